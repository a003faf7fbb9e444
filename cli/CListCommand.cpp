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
    // The tile's own words: "35GB可用,共100GB".
    return QStringLiteral("%1\t%2\t%3\t%4可用,共%5\t%6%")
        .arg(p.displayName, p.devicePath, p.fileSystem.isEmpty() ? QStringLiteral("-") : p.fileSystem,
             p.freeText, p.totalText)
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
