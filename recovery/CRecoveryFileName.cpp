#include "recovery/CRecoveryFileName.h"

#include "scan/CFileNode.h"

#include <QFile>

#include <cerrno>

namespace {

bool isControl(QChar c)
{
    return c.unicode() < 0x20 || c.unicode() == 0x7f;
}

QString safeOnLinux(QString text)
{
    for (QChar& c : text) {
        if (c == QLatin1Char('/') || isControl(c))
            c = QLatin1Char('_');
    }
    return text;
}

QString portable(QString text)
{
    static const QString refused = QStringLiteral("\\:*?\"<>|");
    for (QChar& c : text) {
        if (refused.contains(c))
            c = QLatin1Char('_');
    }
    while (!text.isEmpty() && (text.endsWith(QLatin1Char('.')) || text.endsWith(QLatin1Char(' '))))
        text.chop(1);
    return text;
}

bool isNotAName(const QString& text)
{
    for (QChar c : text) {
        if (c != QLatin1Char('.'))
            return false;
    }
    return true; // also the empty text
}

int encodedLength(const QString& text)
{
    return QFile::encodeName(text).size();
}

} // namespace

CRecoveryFileName::Parts CRecoveryFileName::split(const QString& name)
{
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || name.size() - dot > kMaxExtension)
        return {name, QString()};
    return {name.left(dot), name.mid(dot)};
}

CRecoveryFileName::CRecoveryFileName(const CFileNode& node, int byteLimit)
    : m_limit(byteLimit > 0 ? byteLimit : kDefaultNameLimit)
{
    // A deleted file's record may carry its original name in `name` too:
    // the last resort is the sector alone.
    const QString sectorBase = node.originalName.isEmpty() ? safeOnLinux(node.name) : QString();
    m_forms[SectorName] = {isNotAName(sectorBase) ? QString::number(node.startSector) : sectorBase,
                           node.typeName.isEmpty() ? QString() : QLatin1Char('.') + safeOnLinux(node.typeName)};

    const QString original = safeOnLinux(node.originalName);
    const QString portableOriginal = portable(original);
    m_forms[AsFound] = isNotAName(original) ? m_forms[SectorName] : split(original);
    m_forms[Portable] = isNotAName(portableOriginal) ? m_forms[SectorName] : split(portableOriginal);
}

QString CRecoveryFileName::candidate(Form form, int k) const
{
    const QString suffix = k > 0 ? QStringLiteral(" (%1)").arg(k) : QString();
    return fitted(form, QString(), suffix + m_forms[form].extension);
}

QString CRecoveryFileName::partial(Form form, int k, const QString& partialSuffix) const
{
    const QString number = k > 0 ? QStringLiteral(".%1").arg(k) : QString();
    return fitted(form, QStringLiteral("."), m_forms[form].extension + number + partialSuffix);
}

QString CRecoveryFileName::fitted(Form form, const QString& before, const QString& after) const
{
    const Parts& parts = m_forms[form];
    QString base = parts.base;
    // Cut the base (never the suffix or the extension) until the whole name
    // fits; a surrogate pair goes as one character.
    const int fixed = encodedLength(before + after);
    int length = encodedLength(base);
    while (!base.isEmpty() && length + fixed > m_limit) {
        const int cut = base.size() >= 2 && base.at(base.size() - 1).isLowSurrogate()
                && base.at(base.size() - 2).isHighSurrogate()
            ? 2
            : 1;
        length -= encodedLength(base.right(cut));
        base.chop(cut);
    }
    // A base cut to nothing would leave a hidden ".pdf".
    if (base.isEmpty() && !parts.base.isEmpty())
        base = QStringLiteral("_");
    return before + base + after;
}

bool CRecoveryFileName::differs(Form form) const
{
    const QString spelled = candidate(form);
    for (int earlier = AsFound; earlier < form; ++earlier) {
        if (candidate(static_cast<Form>(earlier)) == spelled)
            return false;
    }
    return true;
}

QString CRecoveryFileName::folderName(const QString& name, int byteLimit)
{
    // A folder is made once and shared by every document in it, so it gets
    // the one spelling every target takes rather than a spelling per try.
    const QString spelled = portable(safeOnLinux(name));
    CFileNode unnamed;
    CRecoveryFileName cut(unnamed, byteLimit);
    cut.m_forms[AsFound] = {isNotAName(spelled) ? QStringLiteral("_") : spelled, QString()};
    return cut.fitted(AsFound, QString(), QString());
}

bool CRecoveryFileName::isNameRefusal(int error)
{
    return error == EINVAL || error == EILSEQ || error == ENAMETOOLONG;
}
