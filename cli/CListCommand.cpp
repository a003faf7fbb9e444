#include "cli/CListCommand.h"

#include "cli/CCliApplication.h"

CListCommand::CListCommand(FILE* out, FILE* err)
    : m_out(out)
    , m_err(err)
{
}

void CListCommand::setProbes(CPartitionList::Probes probes)
{
    m_probes = std::move(probes);
    m_customProbes = true;
}

QString CListCommand::usage()
{
    return QStringLiteral(
        "  list\n"
        "      Lists the volumes that can be scanned, one a line: name, device, file system,\n"
        "      free and total space, used share (tab-separated).\n");
}

QString CListCommand::lineOf(const CPartitionInfo& p)
{
    // The tile's facts in English words (the tile's own are the window's
    // language): "Data(sdb1)  /dev/sdb1  NTFS  35GB free of 100GB  65%".
    const QString unlabelled = p.fileSystem == CPartitionInfo::autoFileSystem() ? QStringLiteral("Whole disk")
                                                                              : QStringLiteral("Local disk");
    const QString name = (p.label.isEmpty() ? unlabelled : p.label) + QLatin1Char('(') + p.kernelName
        + QLatin1Char(')');
    return QStringLiteral("%1\t%2\t%3\t%4 free of %5\t%6%")
        .arg(name, p.devicePath, p.fileSystem.isEmpty() ? QStringLiteral("-") : p.fileSystem,
             p.freeKnown ? p.freeText : QStringLiteral("unknown"), p.totalText)
        .arg(p.usedPercent);
}

int CListCommand::run(const QStringList& arguments)
{
    if (!arguments.isEmpty()) {
        const QString text = QStringLiteral("tamsel-cli: list takes no arguments ('%1')\n\n").arg(arguments.first())
            + CCliApplication::usage();
        std::fputs(text.toUtf8().constData(), m_err);
        return CCliApplication::ExitUsage;
    }
    CPartitionList list;
    if (m_customProbes)
        list.setProbes(m_probes);
    list.enumerate();

    QString out;
    for (const CPartitionInfo* p : list.partitions())
        out += lineOf(*p) + QLatin1Char('\n');
    std::fputs(out.toUtf8().constData(), m_out);
    std::fflush(m_out);
    if (list.count() == 0) {
        std::fputs("tamsel-cli: no volumes found (is lsblk from util-linux installed?).\n", m_err);
        std::fflush(m_err);
    }
    return CCliApplication::ExitOk;
}
