#include "core/app/TerminalProgress.h"

#include <QTextStream>

#include <unistd.h>

namespace {
// Work shorter than this shows no progress at all.
constexpr qint64 QuietMs = 1000;
constexpr qint64 EveryMs = 200;
} // namespace

TerminalProgress::TerminalProgress(QString what)
    : m_what(std::move(what))
    , m_terminal(isatty(STDERR_FILENO) == 1)
{
    m_since.start();
}

TerminalProgress::~TerminalProgress()
{
    finish();
}

void TerminalProgress::show(qint64 done, qint64 total)
{
    const qint64 now = m_since.elapsed();
    if (!m_terminal || now < QuietMs || (m_lastMs >= 0 && now - m_lastMs < EveryMs))
        return;
    m_lastMs = now;
    QTextStream err(stderr);
    err << '\r' << m_what << ": ";
    if (total > 0)
        err << (100 * done / total) << " %";
    else
        err << done;
    err << "   ";
    m_shown = true;
}

void TerminalProgress::finish()
{
    if (m_shown)
        QTextStream(stderr) << '\n';
    m_shown = false;
}
