#include "details/CXmlMetadata.h"

#include <QXmlStreamReader>

namespace {

// The text inside the current element, whatever nesting (rdf:Alt/rdf:li)
// it takes: the first non-empty text met before the element closes.
QString firstText(QXmlStreamReader& xml, int64_t* items)
{
    QString text;
    int depth = 1;
    while (depth > 0 && !xml.atEnd() && --*items > 0) {
        const QXmlStreamReader::TokenType t = xml.readNext();
        if (t == QXmlStreamReader::StartElement)
            ++depth;
        else if (t == QXmlStreamReader::EndElement)
            --depth;
        else if (t == QXmlStreamReader::Characters && text.trimmed().isEmpty())
            text = xml.text().toString();
    }
    return text.trimmed();
}

} // namespace

QDateTime CXmlMetadata::isoTime(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 64)
        return QDateTime();
    QDateTime time = QDateTime::fromString(t, Qt::ISODateWithMs);
    if (!time.isValid())
        time = QDateTime::fromString(t, Qt::ISODate);
    return time.isValid() ? time : QDateTime();
}

bool CXmlMetadata::read(const QByteArray& bytes, CDocumentDetails* d, int64_t maxItems)
{
    QXmlStreamReader xml(bytes);
    bool any = false;
    int64_t items = maxItems;
    while (!xml.atEnd() && --items > 0) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QStringRef name = xml.name();
        const QStringRef ns = xml.namespaceUri();
        const bool dc = ns == QLatin1String("http://purl.org/dc/elements/1.1/");
        QString* textField = nullptr;
        QDateTime* timeField = nullptr;
        if (dc && name == QLatin1String("title"))
            textField = &d->title;
        else if (dc && name == QLatin1String("creator"))
            textField = &d->author;
        else if (name == QLatin1String("created") || name == QLatin1String("CreateDate"))
            timeField = &d->created;
        else if (name == QLatin1String("modified") || name == QLatin1String("ModifyDate"))
            timeField = &d->modified;
        else
            continue;
        const QString text = firstText(xml, &items);
        if (textField && textField->isEmpty() && !text.isEmpty()) {
            *textField = text;
            any = true;
        } else if (timeField && !timeField->isValid()) {
            const QDateTime time = isoTime(text);
            if (time.isValid()) {
                *timeField = time;
                any = true;
            }
        }
    }
    return any;
}

int CXmlMetadata::pageCount(const QByteArray& bytes, int64_t maxItems)
{
    QXmlStreamReader xml(bytes);
    int64_t items = maxItems;
    while (!xml.atEnd() && --items > 0) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() != QLatin1String("Pages") && xml.name() != QLatin1String("Slides"))
            continue;
        bool ok = false;
        const int n = firstText(xml, &items).toInt(&ok);
        if (ok && n >= 0)
            return n;
    }
    return -1;
}
