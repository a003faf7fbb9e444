#pragma once

#include "disk/CUnreadableRanges.h"
#include "scan/CFileNode.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>

// The record of one recovery run that goes beside the recovered files as
// report.xml, in Digital Forensics XML 1.2.0: the program, the source and
// its size, and for each file written its original path on the source
// (`filename`; the name written, for a document only carving found), where
// it was written under the report's folder (tamsel:written), its size, modification time,
// the runs of the source it was copied from, its SHA-256, and whether the
// document was whole (in the program's own namespace). In that namespace
// too: the byte runs of each file that hold zeros because the source gave
// none, the source's unreadable byte runs, and the documents left out with
// the reason.
class CRecoveryReport
{
public:
    static constexpr const char* kFileName = "report.xml";
    static constexpr const char* kDfxmlNamespace = "http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML";
    static constexpr const char* kOwnNamespace = "https://tamsel.invalid/dfxml";

    void setSource(const QString& name, int64_t length);
    // The source's byte runs that could not be read (source offsets).
    void setSourceUnreadable(const CUnreadableRanges& ranges) { m_sourceUnreadable = ranges; }
    // One written file: its path under the folder, the record it came from,
    // the bytes written and their SHA-256 (hex), and its byte runs (file
    // offsets) that hold zeros because the source gave none.
    void addFile(const QString& fileName, const CFileNode& node, int64_t size, const QByteArray& sha256Hex,
                 const CUnreadableRanges& unreadable = CUnreadableRanges());
    // A document not written: the path under the folder it would have had,
    // and why.
    void addLeftOut(const QString& fileName, const CFileNode& node, const QString& reason);
    int fileCount() const { return m_files.size(); }
    int leftOutCount() const { return m_leftOut.size(); }

    // Empty when the XML writer reported an error.
    QByteArray toXml() const;
    // Writes the report into `folder` under report.xml (" (1)" ... when the
    // name is taken; never replacing anything). False with the errno-based
    // reason and the path tried, or when the XML could not be made.
    bool write(const QString& folder, QString* path, QString* reason) const;

private:
    struct File
    {
        QString name;
        CFileNode node;
        int64_t size = 0;
        QByteArray sha256;
        CUnreadableRanges unreadable;
    };
    struct LeftOut
    {
        QString name;
        QString typeName;
        int64_t size = 0;
        int64_t offset = -1; // of its first byte on the source
        QString reason;
    };
    QString m_source;
    int64_t m_sourceLength = 0;
    CUnreadableRanges m_sourceUnreadable;
    QList<File> m_files;
    QList<LeftOut> m_leftOut;
};
