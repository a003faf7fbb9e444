#pragma once

#include "disk/CPartitionList.h"

#include <QStringList>

#include <cstdio>

// tamsel-cli list: the volumes that can be scanned, one a line on stdout,
// with what a disk tile shows: name, device, file system, free and total
// space, used share. The drive type texts go to stderr.
class CListCommand
{
public:
    explicit CListCommand(FILE* out = stdout, FILE* err = stderr);

    // Replaces what the list asks the system (tests feed fixed lsblk JSON).
    void setProbes(CPartitionList::Probes probes);

    int run(const QStringList& arguments);

    static QString usage();
    // One line of the listing, without its line end.
    static QString lineOf(const CPartitionInfo& partition);

private:
    FILE* m_out;
    FILE* m_err;
    bool m_customProbes = false;
    CPartitionList::Probes m_probes;
};
