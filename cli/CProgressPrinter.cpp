#include "cli/CProgressPrinter.h"

#include <QByteArray>
#include <QString>

#include <unistd.h>

CProgressPrinter::CProgressPrinter(FILE* stream)
    : m_stream(stream)
    , m_interactive(::isatty(::fileno(stream)) == 1)
{
}

void CProgressPrinter::start(int64_t volumeLength)
{
    m_length = volumeLength;
    m_timer.start();
}

double CProgressPrinter::elapsedSeconds() const
{
    return m_timer.isValid() ? static_cast<double>(m_timer.nsecsElapsed()) / 1e9 : 0.0;
}

double CProgressPrinter::megabytesPerSecond(int64_t bytes) const
{
    const double s = elapsedSeconds();
    return s > 0 ? static_cast<double>(bytes) / 1e6 / s : 0.0;
}

void CProgressPrinter::update(long long permille, int64_t unreadable, int64_t slow)
{
    if (!m_interactive)
        return;
    const qint64 now = m_timer.elapsed();
    // Redraw a few times a second at most, and always at the end.
    if (m_lastDrawMs >= 0 && now - m_lastDrawMs < 200 && permille < 1000)
        return;
    m_lastDrawMs = now;

    if (permille < 0)
        permille = 0;
    if (permille > 1000)
        permille = 1000;
    const int width = 30;
    const int filled = static_cast<int>(permille * width / 1000);
    const double done = static_cast<double>(m_length) * static_cast<double>(permille) / 1000.0;
    const double rate = megabytesPerSecond(static_cast<int64_t>(done));
    QString left = QStringLiteral("--:--");
    if (rate > 0 && permille > 0) {
        const qint64 seconds = static_cast<qint64>((static_cast<double>(m_length) - done) / 1e6 / rate);
        left = QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
    }
    const QString line = QStringLiteral("\r[%1%2] %3%  %4 MB/s  %5 left ")
                             .arg(QString(filled, QLatin1Char('#')), QString(width - filled, QLatin1Char(' ')))
                             .arg(static_cast<double>(permille) / 10.0, 5, 'f', 1)
                             .arg(rate, 0, 'f', 1)
                             .arg(left);
    QString trouble;
    if (unreadable > 0)
        trouble += QStringLiteral(" %1 MB unreadable ").arg(static_cast<double>(unreadable) / 1e6, 0, 'f', 1);
    if (slow > 0)
        trouble += QStringLiteral(" %1 MB slow ").arg(static_cast<double>(slow) / 1e6, 0, 'f', 1);
    std::fputs((line + trouble).toUtf8().constData(), m_stream);
    std::fflush(m_stream);
    m_drawn = true;
}

void CProgressPrinter::finish()
{
    if (m_drawn) {
        std::fputs("\r\033[K", m_stream);
        std::fflush(m_stream);
        m_drawn = false;
    }
}
