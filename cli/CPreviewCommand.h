#pragma once

#include "scan/CFileNode.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdio>

// tamsel-cli preview SOURCE SECTOR|NAME [--out FILE] [--hex] [--fs ...] [--whole] [--resume]
//
// Scans SOURCE as `scan` does (or takes its saved scan with --resume),
// picks the document that starts at SECTOR or is called NAME, and writes
// what the window's preview shows: a PNG of a rendered first page or
// thumbnail, UTF-8 text otherwise, or with --hex the hex view of its first
// 64 KiB. The document is parsed only in the sandboxed preview helper.
class CPreviewCommand
{
public:
    struct Options
    {
        QString source;
        QString document;
        QString outFile;
        QString fileSystem = QStringLiteral("auto");
        bool fileSystemGiven = false;
        bool hex = false;
        bool whole = false;
        bool resume = false;
        QString error;
    };

    explicit CPreviewCommand(FILE* out = stdout, FILE* err = stderr);

    static Options parse(const QStringList& arguments);
    static QString usage();
    int run(const QStringList& arguments);

    // The documents `wanted` names: the one starting at that sector when it
    // is a number, else those whose shown or original name it is (letter
    // case ignored when none matches exactly).
    static QList<CFileNode> find(const QList<CFileNode>& documents, const QString& wanted);

private:
    void printErr(const QString& text) const;

    FILE* m_out;
    FILE* m_err;
};
