#include "cli/CDocumentJson.h"

#include "cli/CJsonLine.h"
#include "details/CDetailsReader.h"
#include "scan/CFileNode.h"

#include <cstdlib>

QString CDocumentJson::originName(int origin)
{
    switch (origin) {
    case CFileNode::OriginDeletedEntry:
        return QStringLiteral("deleted-entry");
    case CFileNode::OriginBoth:
        return QStringLiteral("both");
    default:
        return QStringLiteral("carved");
    }
}

QString CDocumentJson::isoTime(const QDateTime& time)
{
    if (!time.isValid())
        return QString();
    const QDateTime local = time.toLocalTime();
    const int offset = local.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    // Always "+hh:mm", never "Z": readers that know only offsets read it too.
    return local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"))
        + QStringLiteral("%1%2:%3")
              .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
              .arg(minutes / 60, 2, 10, QLatin1Char('0'))
              .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QByteArray CDocumentJson::extentsOf(const CFileNode& node)
{
    if (node.hasResidentData)
        return QByteArrayLiteral("[]");
    if (node.extents.isEmpty())
        return "[[" + QByteArray::number(static_cast<qulonglong>(node.startSector) * 512u) + ','
            + QByteArray::number(static_cast<qlonglong>(node.size)) + "]]";
    QByteArray out = "[";
    for (const CFileNode::Extent& e : node.extents) {
        if (out.size() > 1)
            out += ',';
        out += '[';
        out += e.offset == CFileNode::Extent::kSparse ? QByteArrayLiteral("null")
                                                      : QByteArray::number(static_cast<qlonglong>(e.offset));
        out += ',' + QByteArray::number(static_cast<qlonglong>(e.length)) + ']';
    }
    return out + ']';
}

void CDocumentJson::fields(const CFileNode& node, CJsonLine& line)
{
    line.add("name", node.displayName());
    if (node.origin == CFileNode::OriginCarved)
        line.addNull("folder");
    else
        line.add("folder", node.folder);
    line
        .add("type", node.typeName)
        .add("sector", static_cast<int64_t>(node.startSector))
        .add("size", static_cast<int64_t>(node.size))
        .addTextOrNull("modified", isoTime(node.bestModified()))
        .add("origin", originName(node.origin))
        .addRaw("extents", extentsOf(node))
        .addNumber("overwritten", node.overwritten)
        .addRaw("incomplete", node.incomplete ? QByteArrayLiteral("true") : QByteArrayLiteral("false"))
        .addRaw("orphaned", node.orphaned ? QByteArrayLiteral("true") : QByteArrayLiteral("false"))
        .addRaw("inside_live_file", node.insideLiveFile ? QByteArrayLiteral("true") : QByteArrayLiteral("false"));
    const CDocumentDetails& d = node.details;
    line.addTextOrNull("title", d.title)
        .addTextOrNull("author", d.author)
        .addTextOrNull("created", isoTime(d.created));
    if (d.pages >= 0)
        line.add("pages", static_cast<int64_t>(d.pages));
    else
        line.addNull("pages");
    line.add("integrity", CDetailsReader::integrityKey(d.integrity))
        .addTextOrNull("integrity_reason", d.integrityReason);
}

QByteArray CDocumentJson::line(const CFileNode& node)
{
    CJsonLine line;
    fields(node, line);
    return line.finish();
}
