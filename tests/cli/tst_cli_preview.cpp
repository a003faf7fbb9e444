// tamsel-cli preview on a FAT32 volume holding deleted documents: found by
// name or by sector, written as a PNG or as text, and the refusals that
// tell a script what to do.
#include "CliTestSupport.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

class tst_cli_preview : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_image = m_dir.filePath(QStringLiteral("deleted.img"));
        const clitest::Run made = clitest::run(
            QStringLiteral("bash"), {QStringLiteral(TAMSEL_SOURCE_DIR "/tests/scripts/make-fat32-deleted-volume.sh"), m_image});
        QVERIFY2(made.exitCode == 0, qPrintable(made.err));
    }

    void preview()
    {
        // A deleted document by its original name: a thumbnail, as a PNG.
        const QString png = m_dir.filePath(QStringLiteral("thesis.png"));
        clitest::Run r = clitest::cli({QStringLiteral("preview"), m_image, QStringLiteral("毕业论文终稿.docx"),
                                       QStringLiteral("--out"), png});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(r.err.contains(QStringLiteral("DOCX")));
        const QImage image(png, "PNG");
        QVERIFY(!image.isNull());
        QCOMPARE(image.size(), QSize(395, 512));

        // By its sector (as scan lists it): a PDF's page count on stderr.
        r = clitest::cli({QStringLiteral("scan"), m_image, QStringLiteral("--tsv")});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QString tablesSector, reportSector;
        for (const QString& line : r.out.split(QLatin1Char('\n'))) {
            const QStringList f = line.split(QLatin1Char('\t'));
            if (f.size() == 4 && f[0].endsWith(QLatin1String("ables.doc")))
                tablesSector = f[2];
            if (f.size() == 4 && f[0].endsWith(QLatin1String("eport.pdf")))
                reportSector = f[2];
        }
        QVERIFY(!tablesSector.isEmpty() && !reportSector.isEmpty());
        r = clitest::cli({QStringLiteral("preview"), m_image, tablesSector});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY2(r.out.startsWith(QStringLiteral("Contract schedule\nTable demand archive.")), qPrintable(r.out.left(200)));
        r = clitest::cli({QStringLiteral("preview"), m_image, reportSector, QStringLiteral("--out"),
                          m_dir.filePath(QStringLiteral("report.png"))});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY2(r.err.contains(QStringLiteral("PDF, 7 page(s)")), qPrintable(r.err));
        QCOMPARE(QImage(m_dir.filePath(QStringLiteral("report.png")), "PNG").height(), 1000);

        // The hex view, with no helper involved.
        r = clitest::cli({QStringLiteral("preview"), m_image, tablesSector, QStringLiteral("--hex")});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(r.out.startsWith(QStringLiteral("00000000  d0 cf 11 e0 a1 b1 1a e1  ")));
        QCOMPARE(r.out.count(QLatin1Char('\n')), 57344 / 16 > 4096 ? 4096 : 57344 / 16);

        // Nothing by that name, or a sector where no document starts.
        for (const QString& wanted : {QStringLiteral("missing.pdf"), QStringLiteral("7")}) {
            r = clitest::cli({QStringLiteral("preview"), m_image, wanted});
            QCOMPARE(r.exitCode, 2);
            QVERIFY2(r.err.contains(QStringLiteral("tamsel-cli scan")), qPrintable(r.err));
        }
    }

private:
    QTemporaryDir m_dir;
    QString m_image;
};

QTEST_GUILESS_MAIN(tst_cli_preview)
#include "tst_cli_preview.moc"
