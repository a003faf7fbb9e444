#pragma once

#include "preview/CPreviewReply.h"
#include "preview/CSandboxLauncher.h"
#include "scan/CFileNode.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

class IVolume;

// One found document's preview: its bytes read from the volume through its
// record (runs, resident bytes, carved stretch; never a temporary file),
// handed to the preview helper (tamsel-preview, beside the program) in the
// sandbox, and its reply checked. Anything but a good reply, a crash, a hang
// or garbage alike, is "no preview" and leaves the caller untouched.
class CDocumentPreview
{
    Q_DECLARE_TR_FUNCTIONS(CDocumentPreview)
public:
    // A larger document is not previewed (the helper would hold it whole).
    static constexpr int64_t kMaxDocument = int64_t(256) << 20;
    // The hex view shows this much of the start.
    static constexpr int kHexBytes = 64 * 1024;

    struct Result
    {
        bool ok = false;
        CPreviewReply reply;
        // It ran without bubblewrap: the file system was readable to it.
        bool reducedSandbox = false;
        // Why there is none, in English (for the command line and logs).
        QString failure;
    };

    CDocumentPreview();

    // The helper's path; by default tamsel-preview beside the program (or
    // one folder up, for the tests' programs).
    void setHelper(const QString& path) { m_helper = path; }
    QString helper() const { return m_helper; }
    CSandboxLauncher& launcher() { return m_launcher; }

    // `cancelled` (optional), asked every few milliseconds, stops it early.
    Result preview(IVolume* volume, const CFileNode& node, const std::function<bool()>& cancelled = {}) const;
    // The same for bytes already read (`typeName` as CFileNode::typeName).
    Result preview(const QString& typeName, const QByteArray& document,
                   const std::function<bool()>& cancelled = {}) const;

    // The document's first bytes for the hex view (or empty when they
    // cannot be read), and their lines: offset, sixteen bytes, their ASCII.
    static QByteArray firstBytes(IVolume* volume, const CFileNode& node);
    static QString hexView(const QByteArray& bytes);

private:
    QString m_helper;
    CSandboxLauncher m_launcher;
};
