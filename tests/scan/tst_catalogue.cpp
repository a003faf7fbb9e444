#include "scan/CFileTypeCatalogue.h"

#include <QtTest>

using Catalogue = CFileTypeCatalogue;

class TestCatalogue : public QObject
{
    Q_OBJECT

private slots:
    void extensions_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("fixedWidth");
        QTest::addColumn<int>("code");

        QTest::newRow("dotted, upper case") << QByteArray("Annual.Report.PDF") << false << 5;
        QTest::newRow("dotted, last dot decides") << QByteArray("archive.tar.gz") << false << 100;
        QTest::newRow("no dot") << QByteArray("README") << false << 100;
        QTest::newRow("dotted docx") << QByteArray("notes.docx") << false << 6;
        QTest::newRow("dotted too short") << QByteArray("X.PD") << false << 100;
        QTest::newRow("dotted trailing dot") << QByteArray("report.") << false << 100;
        QTest::newRow("dotted pptx") << QByteArray("talk.PPTX") << false << 7;
        QTest::newRow("short name with attribute") << QByteArray("REPORT  PDF ") << true << 5;
        QTest::newRow("short name DOC") << QByteArray("NOTES   DOC ") << true << 2;
        QTest::newRow("short name of a docx") << QByteArray("BUDGET~1XLS ") << true << 3;
        QTest::newRow("fixed width, three characters") << QByteArray("PDF") << true << 100;
        QTest::newRow("fixed width, lower-case name runs on") << QByteArray("REPORT  PDF \x01x") << true << 100;
    }

    void extensions()
    {
        QFETCH(QByteArray, name);
        QFETCH(bool, fixedWidth);
        QFETCH(int, code);
        QCOMPARE(Catalogue::typeCodeByExtension(name, fixedWidth), code);
        QCOMPARE(Catalogue::isWantedExtension(name, fixedWidth), code != 100);
    }

    void namesAndDescriptions()
    {
        QCOMPARE(Catalogue::typeCodeByName(QStringLiteral("XLSX")), 8);
        QCOMPARE(Catalogue::typeCodeByName(QStringLiteral("Xlsx")), 8);
        QCOMPARE(Catalogue::typeCodeByName(QStringLiteral("XLSX ")), 100);
        QCOMPARE(Catalogue::typeCodeByName(QStringLiteral("pdf")), 5);
        QCOMPARE(Catalogue::description(QStringLiteral("PDF")), QStringLiteral("Portable Document Format"));
        QCOMPARE(Catalogue::description(QStringLiteral("pdf")), QString());
        QCOMPARE(Catalogue::description(QStringLiteral("XLSX")), Catalogue::description(QStringLiteral("XLS")));
        for (int code = 1; code <= 8; ++code)
            QCOMPARE(Catalogue::typeCodeByName(Catalogue::typeName(code)), code);
    }

    void containersAndFamilies()
    {
        QVERIFY(Catalogue::isContainerExtension("thesis.odt", false));
        QVERIFY(Catalogue::isContainerExtension("LIB.JAR", false));
        QVERIFY(Catalogue::isContainerExtension("NORMAL  DOT ", true));
        QVERIFY(!Catalogue::isContainerExtension("notes.docx", false));
        QVERIFY(!Catalogue::isContainerExtension("noextension", false));
        QCOMPARE(Catalogue::family(Catalogue::Docx), Catalogue::family(Catalogue::Zip));
        QCOMPARE(Catalogue::family(Catalogue::Ppt), Catalogue::family(Catalogue::Doc));
        QVERIFY(Catalogue::family(Catalogue::Pdf) != Catalogue::family(Catalogue::Zip));
        QCOMPARE(Catalogue::family(100), 0);
    }

    void sizeTexts_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << QStringLiteral("0.00 KB");
        QTest::newRow("1536") << qint64(1536) << QStringLiteral("1.50 KB");
        QTest::newRow("5000") << qint64(5000) << QStringLiteral("4.88 KB");
        QTest::newRow("1 MiB stays KB") << qint64(1048576) << QStringLiteral("1024.00 KB");
        QTest::newRow("just over 1 MiB") << qint64(1048577) << QStringLiteral("1.00 MB");
        QTest::newRow("1 GiB stays MB") << qint64(1073741824) << QStringLiteral("1024.00 MB");
        QTest::newRow("just over 1 GiB") << qint64(1073741825) << QStringLiteral("1.00 GB");
        QTest::newRow("3 GiB") << qint64(3221225472LL) << QStringLiteral("3.00 GB");
        QTest::newRow("beyond 4 GiB") << qint64(5LL << 32) << QStringLiteral("20.00 GB");
    }

    void sizeTexts()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(Catalogue::sizeText(bytes), text);
    }
};

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
