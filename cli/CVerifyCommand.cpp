#include "cli/CVerifyCommand.h"

#include "cli/CCliApplication.h"
#include "cli/CInterruptWatch.h"
#include "disk/CEwfVolume.h"

#include <atomic>

CVerifyCommand::CVerifyCommand(FILE* out, FILE* err)
    : m_out(out)
    , m_err(err)
{
}

QString CVerifyCommand::usage()
{
    return QStringLiteral(
        "  verify SOURCE\n"
        "      Reads the E01 image SOURCE (with its other segments .E02, ...) whole and\n"
        "      checks it against the MD5 and SHA1 stored when it was acquired; names the\n"
        "      stretches whose chunks fail their checksums. Exit status 0 when every stored\n"
        "      hash matches and no chunk is corrupt, 1 otherwise.\n");
}

int CVerifyCommand::run(const QStringList& arguments)
{
    auto printErr = [this](const QString& text) {
        std::fputs(text.toUtf8().constData(), m_err);
        std::fflush(m_err);
    };
    if (arguments.size() != 1 || arguments.first().startsWith(QLatin1String("--"))) {
        printErr(QStringLiteral("tamsel-cli: verify takes one SOURCE\n\n") + CCliApplication::usage());
        return CCliApplication::ExitUsage;
    }
    const QString source = arguments.first();
    if (!CEwfVolume::isEwfImage(source)) {
        printErr(QStringLiteral("tamsel-cli: %1 is not an E01 image: only E01 images carry hashes to verify.\n")
                     .arg(source));
        return CCliApplication::ExitFailure;
    }
    QString reason;
    std::unique_ptr<CEwfVolume> image = CEwfVolume::open(source, &reason);
    if (!image) {
        printErr(QStringLiteral("tamsel-cli: %1\n").arg(reason));
        return CCliApplication::ExitFailure;
    }

    std::atomic<bool> stop{false};
    const CEwfVolume::Verification v = image->verify(
        [&stop](int64_t) {
            if (CInterruptWatch::interrupted())
                stop = true;
        },
        &stop);
    if (v.stopped) {
        printErr(QStringLiteral("tamsel-cli: verification of %1 stopped.\n").arg(source));
        return CCliApplication::ExitInterrupted;
    }

    QString out = QStringLiteral("%1: %2 bytes in %3 segment file(s)\n")
                      .arg(source)
                      .arg(image->length())
                      .arg(image->segmentCount());
    bool good = true;
    bool anyStored = false;
    auto check = [&](const char* kind, const QString& stored, const QString& computed) {
        if (stored.isEmpty()) {
            out += QStringLiteral("%1 computed %2 (none stored)\n").arg(QLatin1String(kind), computed);
            return;
        }
        anyStored = true;
        const bool match = stored == computed;
        good = good && match;
        out += QStringLiteral("%1 stored %2, computed %3: %4\n")
                   .arg(QLatin1String(kind), stored, computed,
                        match ? QStringLiteral("match") : QStringLiteral("MISMATCH"));
    };
    check("MD5 ", image->storedMd5(), v.computedMd5);
    check("SHA1", image->storedSha1(), v.computedSha1);
    if (!v.corrupt.isEmpty()) {
        good = false;
        out += QStringLiteral("Corrupt chunks (bytes): %1\n").arg(v.corrupt.text(16));
    }
    if (!anyStored)
        good = false;
    out += good ? QStringLiteral("Verified: the image is as it was acquired.\n")
                : (anyStored ? QStringLiteral("NOT verified: the image changed or is damaged since it was acquired. "
                                              "Scan it all the same: damaged chunks read as unreadable bytes.\n")
                             : QStringLiteral("NOT verified: the image stores no hash to check it against.\n"));
    std::fputs(out.toUtf8().constData(), m_out);
    std::fflush(m_out);
    return good ? CCliApplication::ExitOk : CCliApplication::ExitFailure;
}
