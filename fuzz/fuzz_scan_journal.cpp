// The saved-scan reader (CScanJournal::load) over any file. Saved scans sit
// in a folder the user may write, and under sudo the program reads them as
// root: every byte is hostile.
//
// The input is the whole file. It is read for the volume its own "volume"
// object names, so that inputs get past the identity check to the settings
// and the records; whatever loads must lie on that volume.
#include "scan/CScanJournal.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {

constexpr int64_t kSector = 512;

// One file for every input, removed at exit.
const QString& inputPath()
{
    static const QString path = [] {
        QByteArray pattern = QFile::encodeName(QDir::tempPath()) + "/fuzz_scan_journal_XXXXXX";
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0)
            std::abort();
        ::close(fd);
        const QString made = QFile::decodeName(pattern);
        static const QByteArray removeAtExit = pattern;
        std::atexit([] { ::unlink(removeAtExit.constData()); });
        return made;
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));
    QFile file(inputPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        std::abort();
    file.close();

    CScanJournal::Identity identity;
    const QJsonObject volume = QJsonDocument::fromJson(bytes).object().value(QStringLiteral("volume")).toObject();
    identity.path = volume.value(QStringLiteral("path")).toString();
    const double length = volume.value(QStringLiteral("size")).toDouble();
    identity.size = length >= 0 && length < 9e18 ? static_cast<int64_t>(length) : 0;
    identity.key = volume.value(QStringLiteral("key")).toString();

    for (const bool records : {false, true}) {
        CScanJournal::State state;
        QString notice;
        if (!CScanJournal::load(inputPath(), identity, &state, &notice, records)) {
            if (notice.isEmpty())
                __builtin_trap(); // a file that is there and refused says why
            continue;
        }
        if (state.identity != identity || state.reached < 0 || state.reached > identity.size
            || state.resumeOffset < 0 || state.resumeOffset > state.reached || state.resumeOffset % kSector != 0
            || (!records && !state.entries.empty()))
            __builtin_trap();
        for (const CScanJournal::Entry& e : state.entries) {
            if (e.live) {
                if (e.liveSector < 0 || e.liveSector > identity.size / kSector)
                    __builtin_trap();
                continue;
            }
            const CFileNode& n = e.node;
            if (n.size < 0 || n.size > identity.size || static_cast<int64_t>(n.startSector) > identity.size / kSector)
                __builtin_trap();
            for (const CFileNode::Extent& x : n.extents) {
                if (x.length <= 0 || x.length > identity.size
                    || (x.offset != CFileNode::Extent::kSparse && (x.offset < 0 || x.offset > identity.size - x.length)))
                    __builtin_trap();
            }
        }
    }
    return 0;
}
