#include "gui/app/RegisterHealth.h"

#include "core/callerid/OutsideText.h"
#include "core/contacts/Register.h"

#include <QLabel>

namespace {
// How soon a register that could not be read is read again.
constexpr int RetryMs = 1000;
// How long a burst of changes at other desks is let settle before the list
// is read again: a fraction of the second in which they must show.
constexpr int ElsewhereSettleMs = 150;
} // namespace

RegisterHealth::RegisterHealth(QLabel *notice, Window window, QObject *parent)
    : QObject(parent)
    , m_notice(notice)
    , m_window(std::move(window))
{
    m_retry.setSingleShot(true);
    m_retry.setInterval(RetryMs);
    connect(&m_retry, &QTimer::timeout, this, &RegisterHealth::retry);
    m_elsewhere.setSingleShot(true);
    m_elsewhere.setInterval(ElsewhereSettleMs);
    connect(&m_elsewhere, &QTimer::timeout, this, &RegisterHealth::followChanges);
}

void RegisterHealth::watch(Register *reg)
{
    m_register = reg;
    connect(reg, &Register::changedElsewhere, this, &RegisterHealth::changedElsewhere);
    connect(reg, &Register::reachabilityChanged, this, &RegisterHealth::reachabilityChanged);
}

void RegisterHealth::trouble(const QString &error)
{
    // Zuna ends only when the register is gone for good (removed, damaged)
    // and nothing typed would be lost with it; a busy register is waited for.
    if (m_register && m_register->health() == Register::Health::Gone && !m_window.holdsTyping()) {
        m_window.fail(error);
        return;
    }
    showNotice(error);
    m_retry.start();
}

void RegisterHealth::waiting(const QString &why)
{
    showNotice(why);
}

void RegisterHealth::recovered()
{
    if (!m_retry.isActive())
        m_notice->hide();
}

void RegisterHealth::readable()
{
    m_notice->hide();
}

void RegisterHealth::showNotice(const QString &error)
{
    m_notice->setText(error.section(QLatin1Char('\n'), 0, 0) + QStringLiteral(" Tentando de novo…"));
    m_notice->setToolTip(OutsideText::toolTip(error));
    m_notice->show();
    m_notice->raise();
}

void RegisterHealth::retry()
{
    QString error;
    if (!m_window.readAgain(&error)) {
        trouble(error);
        return;
    }
    m_notice->hide();
}

void RegisterHealth::changedElsewhere()
{
    if (!m_elsewhere.isActive())
        m_elsewhere.start();
}

void RegisterHealth::reachabilityChanged(bool reachable, const QString &why)
{
    if (!reachable) {
        // Everything typed stays; the list and the count are read again
        // once the server answers.
        showNotice(why);
        m_retry.start();
    } else {
        retry();
    }
}

void RegisterHealth::followChanges()
{
    QString error;
    if (!m_window.follow(&error))
        trouble(error);
    else if (!m_retry.isActive())
        m_notice->hide();
}
