#include "preview/CDocumentPreview.h"

#include "scan/CDocumentBytes.h"

#include <QFileInfo>

#include <algorithm>

namespace {

constexpr int kHexPerLine = 16;

QString defaultHelper()
{
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString& candidate : {dir + QStringLiteral("/tamsel-preview"), dir + QStringLiteral("/../tamsel-preview")}) {
        if (QFileInfo(candidate).isExecutable())
            return QFileInfo(candidate).canonicalFilePath();
    }
    return dir + QStringLiteral("/tamsel-preview");
}

} // namespace

CDocumentPreview::CDocumentPreview()
    : m_helper(defaultHelper())
{
    CSandboxLauncher::Limits limits;
    limits.timeoutMs = 10000;
    limits.cpuSeconds = 10;
    limits.addressSpace = int64_t(2) << 30;
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer reserves its shadow memory as address space; its own
    // limit on resident memory stands in.
    limits.addressSpace = 0;
    m_launcher.setEnvironment({QStringLiteral("ASAN_OPTIONS=detect_leaks=0:hard_rss_limit_mb=2048")});
#endif
    m_launcher.setLimits(limits);
}

CDocumentPreview::Result CDocumentPreview::preview(IVolume* volume, const CFileNode& node,
                                                   const std::function<bool()>& cancelled) const
{
    Result result;
    if (node.size > kMaxDocument) {
        result.failure = QStringLiteral("the document is larger than %1 MiB").arg(kMaxDocument >> 20);
        return result;
    }
    CDocumentBytes bytes(volume, node, kMaxDocument);
    const QByteArray document = bytes.bytes(0, bytes.size());
    if (document.size() != bytes.size() || document.isEmpty()) {
        result.failure = QStringLiteral("the document's bytes could not be read from the volume");
        return result;
    }
    return preview(node.typeName, document, cancelled);
}

CDocumentPreview::Result CDocumentPreview::preview(const QString& typeName, const QByteArray& document,
                                                   const std::function<bool()>& cancelled) const
{
    Result result;
    const CSandboxLauncher::Result run = m_launcher.run(m_helper, {typeName}, document, cancelled);
    result.reducedSandbox = run.reduced;
    switch (run.outcome) {
    case CSandboxLauncher::Outcome::StartFailed:
        result.failure = QStringLiteral("the preview helper could not be started: %1").arg(run.error);
        return result;
    case CSandboxLauncher::Outcome::TimedOut:
        result.failure = QStringLiteral("the preview helper took too long and was stopped");
        return result;
    case CSandboxLauncher::Outcome::Cancelled:
        result.failure = QStringLiteral("the preview was given up");
        return result;
    case CSandboxLauncher::Outcome::OutputTooLarge:
        result.failure = QStringLiteral("the preview helper printed too much and was stopped");
        return result;
    case CSandboxLauncher::Outcome::Signalled:
        result.failure = QStringLiteral("the preview helper stopped with signal %1").arg(run.signal);
        return result;
    case CSandboxLauncher::Outcome::Exited:
        break;
    }
    if (run.exitCode != 0) {
        result.failure = QString::fromUtf8(run.errors).trimmed().right(300);
        if (result.failure.isEmpty())
            result.failure = QStringLiteral("the preview helper failed (exit status %1)").arg(run.exitCode);
        return result;
    }
    if (!CPreviewReply::decode(run.output, &result.reply)) {
        result.failure = QStringLiteral("the preview helper's reply could not be read");
        return result;
    }
    result.ok = true;
    return result;
}

QByteArray CDocumentPreview::firstBytes(IVolume* volume, const CFileNode& node)
{
    CDocumentBytes bytes(volume, node, kHexBytes);
    return bytes.bytes(0, std::min<int64_t>(bytes.size(), kHexBytes));
}

QString CDocumentPreview::hexView(const QByteArray& bytes)
{
    static const char digits[] = "0123456789abcdef";
    const int n = std::min(bytes.size(), kHexBytes);
    QString out;
    out.reserve((n / kHexPerLine + 1) * 80);
    for (int line = 0; line < n; line += kHexPerLine) {
        QString text = QStringLiteral("%1  ").arg(line, 8, 16, QLatin1Char('0'));
        QString ascii;
        for (int i = 0; i < kHexPerLine; ++i) {
            if (line + i < n) {
                const auto b = static_cast<uint8_t>(bytes.at(line + i));
                text += QLatin1Char(digits[b >> 4]);
                text += QLatin1Char(digits[b & 0xF]);
                ascii += (b >= 0x20 && b < 0x7f) ? QLatin1Char(char(b)) : QLatin1Char('.');
            } else {
                text += QLatin1String("  ");
            }
            text += i == 7 ? QLatin1String("  ") : QLatin1String(" ");
        }
        out += text + QLatin1Char(' ') + ascii + QLatin1Char('\n');
    }
    return out;
}
