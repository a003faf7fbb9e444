#pragma once

#include "scan/CDocumentDetails.h"

#include <QByteArray>

// The metadata of an OOXML package's docProps/core.xml or a PDF's XMP
// packet: both say it in Dublin Core (dc:title, dc:creator) with times in
// ISO 8601 (dcterms:created / dcterms:modified, xmp:CreateDate /
// xmp:ModifyDate); XMP wraps the texts in rdf:Alt / rdf:Seq lists.
class CXmlMetadata
{
public:
    // Fills the fields of `details` that are still empty; true when any was.
    static bool read(const QByteArray& xml, CDocumentDetails* details, int64_t maxItems = 100000);
    // A count from docProps/app.xml (<Pages>, <Slides>), or -1.
    static int pageCount(const QByteArray& appXml, int64_t maxItems = 100000);
    // ISO 8601 with or without a zone (none: local time); invalid otherwise.
    static QDateTime isoTime(const QString& text);
};
