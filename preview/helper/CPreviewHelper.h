#pragma once

#include "preview/CPreviewReply.h"

#include <QByteArray>
#include <QImage>
#include <QString>

// The sandboxed side of a preview: turns a document's bytes into a reply
// (a rendered first page or thumbnail as a PNG, else text). Runs only in
// tamsel-preview, under CSandboxLauncher.
class CPreviewHelper
{
public:
    // The longest side of a rendered page or thumbnail, in pixels.
    static constexpr int kMaxSide = 1000;

    // False when there is nothing to show (`why` says why).
    static bool make(const QString& typeName, const QByteArray& document, CPreviewReply* reply, QString* why);

private:
    static bool renderPdf(const QByteArray& document, CPreviewReply* reply, QString* why);
    static bool imageReply(const QImage& image, CPreviewReply* reply);
};
