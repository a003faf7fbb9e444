#include "disk/CDdrescueMap.h"

#include <QDateTime>
#include <QList>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <limits>

namespace {

bool isBlockStatus(char c)
{
    return c == '?' || c == '*' || c == '/' || c == '-' || c == '+';
}

// The status line may name the phase a run stopped in, which has a few
// more letters: filling, generating, and a run's own retry and finish marks.
bool isCurrentStatus(char c)
{
    return isBlockStatus(c) || c == 'F' || c == 'G' || c == 'R';
}

bool readNumber(const QByteArray& word, int64_t* out)
{
    if (word.isEmpty() || word.size() > 40 || word.at(0) == '-' || word.at(0) == '+')
        return false;
    const QByteArray z = word + '\0';
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(z.constData(), &end, 0);
    if (errno != 0 || end != z.constData() + word.size() || v < 0)
        return false;
    *out = static_cast<int64_t>(v);
    return true;
}

QByteArray hex(int64_t v)
{
    return "0x" + QByteArray::number(static_cast<qlonglong>(v), 16).toUpper().rightJustified(8, '0');
}

} // namespace

bool CDdrescueMap::parse(const QByteArray& text, CDdrescueMap* map, QString* error)
{
    CDdrescueMap result;
    auto fail = [&](int line, const QString& why) {
        if (error)
            *error = QStringLiteral("line %1: %2").arg(line).arg(why);
        return false;
    };
    bool haveStatus = false;
    int lineNumber = 0;
    int64_t expected = 0;
    // One line per turn; the text is finite.
    for (const QByteArray& raw : text.split('\n')) {
        ++lineNumber;
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> words = line.simplified().split(' ');
        if (!haveStatus) {
            if (words.size() < 2 || words.size() > 3)
                return fail(lineNumber, QStringLiteral("the status line needs a position and a status"));
            if (!readNumber(words[0], &result.m_position))
                return fail(lineNumber, QStringLiteral("the current position is not a number"));
            if (words[1].size() != 1 || !isCurrentStatus(words[1].at(0)))
                return fail(lineNumber, QStringLiteral("the current status is not one of ?*/-FGR+"));
            result.m_currentStatus = words[1].at(0);
            if (words.size() == 3) {
                int64_t pass = 0;
                if (!readNumber(words[2], &pass) || pass < 1 || pass > 5)
                    return fail(lineNumber, QStringLiteral("the current pass is not 1 to 5"));
                result.m_pass = static_cast<int>(pass);
            }
            haveStatus = true;
            continue;
        }
        if (words.size() != 3)
            return fail(lineNumber, QStringLiteral("a block needs a position, a size and a status"));
        Block b;
        if (!readNumber(words[0], &b.offset) || !readNumber(words[1], &b.length))
            return fail(lineNumber, QStringLiteral("the position or size is not a number"));
        if (words[2].size() != 1 || !isBlockStatus(words[2].at(0)))
            return fail(lineNumber, QStringLiteral("the status is not one of ?*/-+"));
        b.status = words[2].at(0);
        if (b.length <= 0)
            return fail(lineNumber, QStringLiteral("the block is empty"));
        if (b.offset != expected)
            return fail(lineNumber, QStringLiteral("the block does not start where the one before ended"));
        if (b.length > std::numeric_limits<int64_t>::max() - b.offset)
            return fail(lineNumber, QStringLiteral("the block ends past the largest position"));
        if (result.m_blocks.size() >= kMaxBlocks)
            return fail(lineNumber, QStringLiteral("too many blocks"));
        expected = b.offset + b.length;
        if (!result.m_blocks.empty() && result.m_blocks.back().status == b.status)
            result.m_blocks.back().length += b.length;
        else
            result.m_blocks.push_back(b);
    }
    if (!haveStatus)
        return fail(lineNumber, QStringLiteral("no status line: this is not a ddrescue map file"));
    if (map)
        *map = std::move(result);
    return true;
}

CDdrescueMap CDdrescueMap::untried(int64_t length)
{
    CDdrescueMap map;
    if (length > 0)
        map.m_blocks.push_back({0, length, NonTried});
    return map;
}

int64_t CDdrescueMap::extent() const
{
    return m_blocks.empty() ? 0 : m_blocks.back().offset + m_blocks.back().length;
}

void CDdrescueMap::set(int64_t offset, int64_t length, char status)
{
    if (offset < 0 || length <= 0 || !isBlockStatus(status) || length > std::numeric_limits<int64_t>::max() - offset)
        return;
    const int64_t end = offset + length;
    if (extent() < offset)
        m_blocks.push_back({extent(), offset - extent(), NonTried});
    std::vector<Block> out;
    out.reserve(m_blocks.size() + 2);
    auto put = [&](Block b) {
        if (b.length <= 0)
            return;
        if (!out.empty() && out.back().status == b.status && out.back().offset + out.back().length == b.offset)
            out.back().length += b.length;
        else
            out.push_back(b);
    };
    bool placed = false;
    for (const Block& b : m_blocks) {
        const int64_t bEnd = b.offset + b.length;
        if (bEnd <= offset || b.offset >= end) {
            if (!placed && b.offset >= end) {
                put({offset, length, status});
                placed = true;
            }
            put(b);
            continue;
        }
        put({b.offset, offset - b.offset, b.status});
        if (!placed) {
            put({offset, length, status});
            placed = true;
        }
        put({end, bEnd - end, b.status});
    }
    if (!placed)
        put({offset, length, status});
    m_blocks = std::move(out);
}

int64_t CDdrescueMap::bytesWith(char status) const
{
    int64_t sum = 0;
    for (const Block& b : m_blocks)
        sum += b.status == status ? b.length : 0;
    return sum;
}

CUnreadableRanges CDdrescueMap::stretchesWith(char status) const
{
    CUnreadableRanges r;
    for (const Block& b : m_blocks) {
        if (b.status == status)
            r.add(b.offset, b.length);
    }
    return r;
}

CUnreadableRanges CDdrescueMap::unread() const
{
    CUnreadableRanges r;
    for (const Block& b : m_blocks) {
        if (b.status != Finished)
            r.add(b.offset, b.length);
    }
    return r;
}

QByteArray CDdrescueMap::text(const QString& commandLine) const
{
    QByteArray out;
    out += "# Mapfile. Created by Tamsel, in GNU ddrescue's mapfile format\n";
    out += "# Command line: " + commandLine.toUtf8().replace('\n', ' ') + "\n";
    out += "# Current time: " + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")).toUtf8()
        + "\n";
    if (m_currentStatus == Finished)
        out += "# Finished\n";
    out += "# current_pos  current_status  current_pass\n";
    out += hex(m_position) + "     " + m_currentStatus + "               " + QByteArray::number(m_pass) + "\n";
    out += "#      pos        size  status\n";
    for (const Block& b : m_blocks)
        out += hex(b.offset) + "  " + hex(b.length) + "  " + b.status + "\n";
    return out;
}
