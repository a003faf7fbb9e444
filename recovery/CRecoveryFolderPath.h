#pragma once

#include <QString>
#include <QStringList>

class CFileNode;

// Where a document goes under the output folder when its original folders
// are kept: the folder its deleted entry sat in, one folder name at a time,
// each made safe (CRecoveryFileName::folderName), so that "..", "/" or an
// absolute path in a damaged entry name a folder inside the output folder
// and never climb out of it.
//
// What has no known place goes under "lost": a document only carving found
// (no entry, no folder), and a deleted file whose folder's parent is lost
// ("?/Reports" becomes lost/Reports). A file from the volume's root folder
// goes to the top.
class CRecoveryFolderPath
{
public:
    static constexpr const char* kLostFolder = "lost";
    // Deeper folders than this are cut off (a loop in a damaged directory
    // tree can make a path of any depth).
    static constexpr int kMaxDepth = 64;
    // The folders under the output folder stay within this many bytes
    // together, so that the whole path stays under the system's limit.
    static constexpr int kMaxBytes = 2048;

    // The folder names from the output folder down, each at most
    // `byteLimit` bytes; empty for the top.
    static QStringList components(const CFileNode& node, int byteLimit);
    // The original path the record names ("/论文/2024/a.docx"), or "" for a
    // document only carving knows.
    static QString originalPath(const CFileNode& node);
};
