#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

class CFileNode;
class CJsonLine;

// `tamsel-cli scan --json`: one JSON object per found document, one a line,
// with these keys in this order:
//   "name"        the original name where a deleted entry gave one, else
//                 the sector name ("2048.PDF")
//   "folder"      the entry's folder ("/论文/2024", "?/x" under a lost
//                 parent), or null for a document known only by carving
//   "type"        "PDF", "DOCX", ...
//   "sector"      first sector (512 bytes) on the source
//   "size"        bytes
//   "modified"    ISO 8601 local time with its offset, or null: the file
//                 system's time where it kept one, else the document's own
//   "origin"      "carved", "deleted-entry" or "both"
//   "extents"     [[byte offset, length], ...] on the source, in file
//                 order; a sparse run (zeros never written) has null as its
//                 offset; empty for a file kept inside its entry
//   "overwritten" share of its bytes the file system now uses for
//                 something else, 0 to 1
//   "incomplete"  true when the entry's layout could not be followed to
//                 the end
//   "title", "author"  what the document says of itself, or null
//   "created"     the document's own creation time (as "modified"), or null
//   "pages"       pages, slides or sheets, or null
//   "integrity"   "whole", "damaged" or "unchecked"
//   "integrity_reason"  the first damage found, or why it was not checked,
//                 or null
// Further keys are added in fields(), each by one call.
class CDocumentJson
{
public:
    static QByteArray line(const CFileNode& node);

    static QString originName(int origin);
    // "2024-05-01T14:03:00+08:00"; a null text for an invalid time.
    static QString isoTime(const QDateTime& time);
    static QByteArray extentsOf(const CFileNode& node);

private:
    static void fields(const CFileNode& node, CJsonLine& line);
};
