#include "core/callerid/sources/Reconnector.h"

namespace {
constexpr int FirstDelayMs = 1000;
constexpr int LongestDelayMs = 30000;
} // namespace

Reconnector::Reconnector(std::function<void()> attempt, QObject *parent)
    : QObject(parent)
    , m_attempt(std::move(attempt))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { m_attempt(); });
}

void Reconnector::failed()
{
    if (m_timer.isActive())
        return;
    // Only a connection that held counts as a success: a server that takes
    // the connection and drops it at once is waited for longer each time.
    if (m_up.isValid() && m_up.elapsed() >= HeldMs)
        m_delayMs = 0;
    m_up.invalidate();
    m_delayMs = m_delayMs == 0 ? FirstDelayMs : std::min(m_delayMs * 2, LongestDelayMs);
    m_timer.start(m_delayMs);
}

void Reconnector::succeeded()
{
    if (!m_up.isValid())
        m_up.start();
}

void Reconnector::stop()
{
    m_timer.stop();
    m_delayMs = 0;
    m_up.invalidate();
}
