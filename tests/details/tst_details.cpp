#include "details/CDetailsReader.h"
#include "scan/CDocumentBytes.h"

#include <QDir>
#include <QFile>
#include <QtTest>

class tst_details : public QObject
{
    Q_OBJECT
private slots:
    void dump()
    {
        QDir dir(QStringLiteral(TAMSEL_TEST_DATA));
        for (const QString& name : dir.entryList(QDir::Files)) {
            if (name == QLatin1String("MANIFEST.tsv"))
                continue;
            QFile f(dir.filePath(name));
            QVERIFY(f.open(QIODevice::ReadOnly));
            CDocumentBytes bytes(f.readAll());
            const QString type = name.section(QLatin1Char('.'), -1).toUpper();
            bool larger = false;
            const CDocumentDetails d = CDetailsReader::read(bytes, type, CDetailsBudget(), &larger);
            qDebug().noquote() << name << d.found << d.title << d.author << d.created.toString(Qt::ISODate)
                               << d.modified.toString(Qt::ISODate) << d.pages << d.integrity << d.integrityReason
                               << larger;
        }
    }
};

QTEST_GUILESS_MAIN(tst_details)
#include "tst_details.moc"
