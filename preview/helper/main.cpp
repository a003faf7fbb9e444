// tamsel-preview TYPE: reads a document on stdin, prints its preview
// (see CPreviewReply). Started only by CDocumentPreview, in the sandbox.
#include "preview/helper/CPreviewHelper.h"

#include <QByteArray>

#include <cstdio>
#include <unistd.h>

namespace {
constexpr qint64 kMaxInput = qint64(256) << 20;
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: tamsel-preview TYPE < document\n", stderr);
        return 2;
    }
    QByteArray document;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(0, chunk, sizeof chunk);
        if (n == 0)
            break;
        if (n < 0 || document.size() + n > kMaxInput) {
            std::fputs("the document could not be read\n", stderr);
            return 2;
        }
        document.append(chunk, static_cast<int>(n));
    }
    CPreviewReply reply;
    QString why;
    if (!CPreviewHelper::make(QString::fromLatin1(argv[1]), document, &reply, &why)) {
        std::fprintf(stderr, "%s\n", why.toUtf8().constData());
        return 1;
    }
    const QByteArray out = reply.encode();
    return std::fwrite(out.constData(), 1, static_cast<size_t>(out.size()), stdout) == static_cast<size_t>(out.size())
            && std::fflush(stdout) == 0
        ? 0
        : 1;
}
