#pragma once

#include <QString>

class CFileNode;

// The name a recovered document is written under, in the recovery folder.
//
// Its first spelling is the document's own name (the deleted file's
// original name, else the sector name "2048.PDF"), made safe to join to the
// folder: "/" and NUL become "_" (so "../x.pdf" stays inside the folder as
// ".._x.pdf"), as do control characters (a newline would split the command
// line's one-path-a-line output). A name of dots alone is not a name.
//
// An output file system may refuse a name that Linux takes (FAT and NTFS
// targets refuse \ : * ? " < > | and trailing dots or spaces, and may count
// the length differently): the second spelling replaces those too, and the
// third is the sector name. Every spelling is cut, inside its base and on a
// character boundary, to the folder's longest name in bytes, leaving room
// for the " (k)" that a taken name gets before its extension.
class CRecoveryFileName
{
public:
    static constexpr int kDefaultNameLimit = 255;
    // An extension longer than this is part of the name, not an extension.
    static constexpr int kMaxExtension = 16;

    enum Form { AsFound = 0, Portable = 1, SectorName = 2 };

    // `byteLimit`: the longest file name the output folder takes, in bytes
    // of its encoding.
    CRecoveryFileName(const CFileNode& node, int byteLimit = kDefaultNameLimit);

    // The spelling `form`, with " (k)" before the extension for k > 0.
    QString candidate(Form form, int k = 0) const;
    // The hidden name the file is written under until it is whole:
    // "." + spelling (+ ".k" for k > 0) + `partialSuffix`, cut to fit too.
    QString partial(Form form, int k, const QString& partialSuffix) const;
    // Whether `form` is spelled differently from every earlier form (else
    // trying it again is pointless).
    bool differs(Form form) const;

    // Whether an error of open() is about the name rather than the folder
    // or the disk.
    static bool isNameRefusal(int error);

    // One folder name, spelled so that any output file system takes it and
    // it names a folder inside its parent: the portable spelling, "_" for a
    // name of dots alone ("..", "."), cut to `byteLimit` bytes.
    static QString folderName(const QString& name, int byteLimit = kDefaultNameLimit);

private:
    struct Parts
    {
        QString base;
        QString extension; // with its dot, or empty
    };
    static Parts split(const QString& name);
    // before + the form's base, cut to fit + after.
    QString fitted(Form form, const QString& before, const QString& after) const;

    Parts m_forms[3];
    int m_limit;
};
