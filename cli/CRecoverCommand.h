#pragma once

#include "disk/CDiskMappingPointer.h"
#include "disk/CUnreadableRanges.h"
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
//                   [--include-damaged] [--keep-folders]
//
// Scans SOURCE as `scan` does, then writes every lost document it lists (or
// those of the given types) into OUTDIR, except damaged ones (partly
// overwritten, their entries cut short, failing their own check, or over
// sectors that cannot be read) unless asked for, as ticking a type in the
// window leaves them out, with a line per file on stderr and a closing
// summary that counts what was left out and why. Refuses to write onto the
// volume being recovered unless told otherwise.
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
        bool keepFolders = false;
        bool resume = false;
        bool fileSystemGiven = false;
        QString error;   // a usage error
    };

    explicit CRecoverCommand(FILE* out = stdout, FILE* err = stderr);

    static Options parse(const QStringList& arguments);
    static QString usage();

    // Runs the whole command; returns the exit code.
    int run(const QStringList& arguments);

    // The writing half: copies `documents` out of `volume` into `folder`,
    // damaged ones too when `includeDamaged`. ExitOk when every file was
    // written, ExitLeftOut when the others were, ExitFailure otherwise.
    int recoverDocuments(std::shared_ptr<IVolume> volume, const QString& folder, const QList<CFileNode>& documents,
                         uint32_t windowSize = CDiskMappingPointer::kDefaultWindowSize, bool includeDamaged = false,
                         const CUnreadableRanges& knownUnreadable = CUnreadableRanges(), bool keepFolders = false);

private:
    void printErr(const QString& text) const;

    FILE* m_out;
    FILE* m_err;
};
