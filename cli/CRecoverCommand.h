#pragma once

#include "disk/CDiskMappingPointer.h"
#include "scan/CFileNode.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <memory>

class IVolume;

// tamsel-cli recover SOURCE OUTDIR [--type PDF,DOCX,...] [--fs ...] [--allow-same-volume]
//                   [--include-damaged]
//
// Scans SOURCE as `scan` does, then writes every lost document it lists (or
// those of the given types) into OUTDIR, except damaged ones (partly
// overwritten, or their entries cut short) unless asked for, as ticking a
// type in the window leaves them out, with a line per file on stderr and
// a closing summary. Refuses to write onto the volume being recovered unless
// told otherwise.
class CRecoverCommand
{
public:
    struct Options
    {
        QString source;
        QString outputFolder;
        QString fileSystem = QStringLiteral("auto");
        QSet<int> types; // empty: every type
        bool allowSameVolume = false;
        bool includeDamaged = false;
        bool whole = false;
        QString error;   // a usage error
    };

    explicit CRecoverCommand(FILE* out = stdout, FILE* err = stderr);

    static Options parse(const QStringList& arguments);
    static QString usage();

    // Runs the whole command; returns the exit code.
    int run(const QStringList& arguments);

    // The writing half: copies `documents` out of `volume` into `folder`.
    // 0 when every file was written, 1 otherwise.
    int recoverDocuments(std::shared_ptr<IVolume> volume, const QString& folder, const QList<CFileNode>& documents,
                         uint32_t windowSize = CDiskMappingPointer::kDefaultWindowSize);

private:
    void printErr(const QString& text) const;

    FILE* m_out;
    FILE* m_err;
};
