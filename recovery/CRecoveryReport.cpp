#include "recovery/CRecoveryReport.h"

#include "recovery/CRecoveryFolderPath.h"

#include "details/CDetailsReader.h"
#include "scan/CDocumentBytes.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QXmlStreamWriter>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

QString utcTime(const QDateTime& time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ"));
}

// Names, titles and paths come from the scanned volume and its documents:
// anything the XML 1.0 Char production does not allow (half a surrogate
// pair, control codes other than tab and line ends, U+FFFE and U+FFFF)
// becomes U+FFFD, visibly, instead of being dropped by the writer or
// breaking the encoding of the rest of the report.
QString xmlText(const QString& text)
{
    QString out = text;
    const int n = out.size();
    for (int i = 0; i < n; ++i) {
        const ushort c = out.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(out.at(i + 1).unicode())) {
            ++i;
            continue;
        }
        const bool control = c < 0x20 && c != '\t' && c != '\n' && c != '\r';
        if (control || QChar::isSurrogate(c) || c == 0xFFFE || c == 0xFFFF)
            out[i] = QChar(QChar::ReplacementCharacter);
    }
    return out;
}

void textElement(QXmlStreamWriter& xml, const QString& ns, const QString& name, const QString& text)
{
    xml.writeTextElement(ns, name, xmlText(text));
}

// <tamsel:unreadable bytes="N"><tamsel:run OFFSET="..." len="..."/>...
void writeUnreadable(QXmlStreamWriter& xml, const CUnreadableRanges& ranges, const QString& offsetName)
{
    const QString ns = QLatin1String(CRecoveryReport::kOwnNamespace);
    xml.writeStartElement(ns, QStringLiteral("unreadable"));
    xml.writeAttribute(QStringLiteral("bytes"), QString::number(ranges.totalBytes()));
    for (const CUnreadableRanges::Range& r : ranges.ranges()) {
        xml.writeEmptyElement(ns, QStringLiteral("run"));
        xml.writeAttribute(offsetName, QString::number(r.offset));
        xml.writeAttribute(QStringLiteral("len"), QString::number(r.length));
    }
    xml.writeEndElement();
}

} // namespace

void CRecoveryReport::setSource(const QString& name, int64_t length)
{
    m_source = name;
    m_sourceLength = length;
}

void CRecoveryReport::addFile(const QString& fileName, const CFileNode& node, int64_t size,
                              const QByteArray& sha256Hex, const CUnreadableRanges& unreadable)
{
    File f;
    f.name = fileName;
    f.node = node;
    f.node.residentData.clear(); // the report needs only its length
    f.size = size;
    f.sha256 = sha256Hex;
    f.unreadable = unreadable;
    m_files.append(f);
}

void CRecoveryReport::addLeftOut(const QString& fileName, const CFileNode& node, const QString& reason)
{
    LeftOut l;
    l.name = fileName;
    l.typeName = node.typeName;
    l.size = node.size;
    l.offset = node.firstByteOffset();
    l.reason = reason;
    m_leftOut.append(l);
}

QByteArray CRecoveryReport::toXml() const
{
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setCodec("UTF-8");
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeDefaultNamespace(QLatin1String(kDfxmlNamespace));
    xml.writeNamespace(QLatin1String(kOwnNamespace), QStringLiteral("tamsel"));
    xml.writeNamespace(QStringLiteral("http://purl.org/dc/elements/1.1/"), QStringLiteral("dc"));
    xml.writeStartElement(QLatin1String(kDfxmlNamespace), QStringLiteral("dfxml"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1.2.0"));

    xml.writeStartElement(QLatin1String(kDfxmlNamespace), QStringLiteral("metadata"));
    xml.writeTextElement(QStringLiteral("http://purl.org/dc/elements/1.1/"), QStringLiteral("type"),
                         QStringLiteral("Recovery Report"));
    xml.writeEndElement();

    xml.writeStartElement(QLatin1String(kDfxmlNamespace), QStringLiteral("creator"));
    xml.writeTextElement(QLatin1String(kDfxmlNamespace), QStringLiteral("program"), QStringLiteral("Tamsel"));
    const QString version = QCoreApplication::applicationVersion();
    xml.writeTextElement(QLatin1String(kDfxmlNamespace), QStringLiteral("version"),
                         version.isEmpty() ? QStringLiteral(TAMSEL_VERSION) : version);
    xml.writeStartElement(QLatin1String(kDfxmlNamespace), QStringLiteral("execution_environment"));
    xml.writeTextElement(QLatin1String(kDfxmlNamespace), QStringLiteral("start_time"),
                         utcTime(QDateTime::currentDateTimeUtc()));
    xml.writeEndElement();
    xml.writeEndElement();

    // The schema's source holds only names; the size rides as our attribute.
    xml.writeStartElement(QLatin1String(kDfxmlNamespace), QStringLiteral("source"));
    xml.writeAttribute(QLatin1String(kOwnNamespace), QStringLiteral("image_size"), QString::number(m_sourceLength));
    textElement(xml, QLatin1String(kDfxmlNamespace), QStringLiteral("image_filename"), m_source);
    writeUnreadable(xml, m_sourceUnreadable, QStringLiteral("img_offset"));
    xml.writeEndElement();

    for (const File& f : m_files) {
        xml.writeStartElement(QLatin1String(kDfxmlNamespace), QStringLiteral("fileobject"));
        // DFXML's filename is the file's path on the source; where it was
        // written (relative to the report's folder) is ours to say. A
        // document only carving found has no path of its own.
        const QString original = CRecoveryFolderPath::originalPath(f.node);
        textElement(xml, QLatin1String(kDfxmlNamespace), QStringLiteral("filename"),
                    original.isEmpty() ? f.name : original);
        textElement(xml, QLatin1String(kOwnNamespace), QStringLiteral("written"), f.name);
        xml.writeTextElement(QLatin1String(kDfxmlNamespace), QStringLiteral("filesize"), QString::number(f.size));
        const QDateTime modified = f.node.bestModified();
        if (modified.isValid())
            xml.writeTextElement(QLatin1String(kDfxmlNamespace), QStringLiteral("mtime"), utcTime(modified));
        xml.writeStartElement(QLatin1String(kDfxmlNamespace), QStringLiteral("byte_runs"));
        // A compressed file's runs are its stored units: offsets in the
        // stored stream, not in the file.
        if (f.node.compressionUnit > 0)
            xml.writeAttribute(QLatin1String(kOwnNamespace), QStringLiteral("lznt1_unit"),
                               QString::number(f.node.compressionUnit));
        int64_t fileOffset = 0;
        if (f.node.hasResidentData) {
            // Kept inside the file system's own record.
            xml.writeEmptyElement(QLatin1String(kDfxmlNamespace), QStringLiteral("byte_run"));
            xml.writeAttribute(QStringLiteral("file_offset"), QStringLiteral("0"));
            xml.writeAttribute(QStringLiteral("len"), QString::number(f.size));
            xml.writeAttribute(QStringLiteral("type"), QStringLiteral("resident"));
        }
        for (const CFileNode::Extent& run : CDocumentBytes::runsOf(f.node)) {
            xml.writeEmptyElement(QLatin1String(kDfxmlNamespace), QStringLiteral("byte_run"));
            xml.writeAttribute(QStringLiteral("file_offset"), QString::number(fileOffset));
            if (run.offset == CFileNode::Extent::kSparse)
                xml.writeAttribute(QStringLiteral("fill"), QStringLiteral("0"));
            else
                xml.writeAttribute(QStringLiteral("img_offset"), QString::number(run.offset));
            xml.writeAttribute(QStringLiteral("len"), QString::number(run.length));
            fileOffset += run.length;
        }
        xml.writeEndElement();
        xml.writeStartElement(QLatin1String(kDfxmlNamespace), QStringLiteral("hashdigest"));
        xml.writeAttribute(QStringLiteral("type"), QStringLiteral("sha256"));
        xml.writeCharacters(QString::fromLatin1(f.sha256));
        xml.writeEndElement();
        const CDocumentDetails& d = f.node.details;
        xml.writeStartElement(QLatin1String(kOwnNamespace), QStringLiteral("integrity"));
        xml.writeAttribute(QStringLiteral("state"), CDetailsReader::integrityKey(d.integrity));
        if (!d.integrityReason.isEmpty())
            xml.writeCharacters(xmlText(d.integrityReason));
        xml.writeEndElement();
        if (!d.title.isEmpty())
            textElement(xml, QLatin1String(kOwnNamespace), QStringLiteral("title"), d.title);
        if (!f.unreadable.isEmpty())
            writeUnreadable(xml, f.unreadable, QStringLiteral("file_offset"));
        xml.writeEndElement();
    }
    for (const LeftOut& l : m_leftOut) {
        xml.writeStartElement(QLatin1String(kOwnNamespace), QStringLiteral("left_out"));
        xml.writeAttribute(QStringLiteral("filename"), xmlText(l.name));
        xml.writeAttribute(QStringLiteral("type"), l.typeName);
        xml.writeAttribute(QStringLiteral("size"), QString::number(l.size));
        if (l.offset >= 0)
            xml.writeAttribute(QStringLiteral("img_offset"), QString::number(l.offset));
        xml.writeCharacters(xmlText(l.reason));
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    // The writer drops what it cannot encode and goes on: a report with a
    // hole in it is no record, so none is returned.
    if (xml.hasError())
        return QByteArray();
    return out;
}

bool CRecoveryReport::write(const QString& folder, QString* path, QString* reason) const
{
    const QByteArray xml = toXml();
    if (xml.isEmpty()) {
        *path = folder + QLatin1Char('/') + QLatin1String(kFileName);
        *reason = QStringLiteral("the recovery report could not be put into XML, so none was written. The recovered "
                                 "files are complete; please report this as a fault of the program.");
        return false;
    }
    for (int k = 0; k < 1000; ++k) {
        const QString name = k == 0 ? QLatin1String(kFileName) : QStringLiteral("report (%1).xml").arg(k);
        *path = folder + QLatin1Char('/') + name;
        const QByteArray encoded = QFile::encodeName(*path);
        const int fd = ::open(encoded.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            *reason = QStringLiteral("the recovery report cannot be created: %1. The recovered files are complete; "
                                     "choose a folder you can write to for the report.")
                          .arg(QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        int64_t done = 0;
        int error = 0;
        while (done < xml.size()) {
            const ssize_t n = ::write(fd, xml.constData() + done, static_cast<size_t>(xml.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                error = n < 0 ? errno : ENOSPC;
                break;
            }
            done += n;
        }
        if (::close(fd) != 0 && error == 0 && errno != EINTR)
            error = errno;
        if (error != 0) {
            ::unlink(encoded.constData());
            *reason = QStringLiteral("the recovery report cannot be written: %1. The recovered files are complete; "
                                     "free some space on the output disk for the report.")
                          .arg(QString::fromLocal8Bit(std::strerror(error)));
            return false;
        }
        return true;
    }
    *reason = QStringLiteral("the output folder already holds 1000 reports. Choose an empty folder.");
    return false;
}
