#include "gui/app/CallRecording.h"

#include "core/callerid/LineSource.h"
#include "core/callerid/OutsideText.h"
#include "core/contacts/PhoneNumber.h"
#include "gui/app/CallLog.h"
#include "gui/app/CallNotifier.h"
#include "gui/app/CallsWindow.h"
#include "gui/callerid/CallerIdControl.h"

CallRecording::CallRecording(CallerIdControl *monitor, CallLog *log, CallsWindow *calls, CallNotifier *notifier,
    QWidget *window, QObject *parent)
    : QObject(parent)
    , m_monitor(monitor)
    , m_log(log)
    , m_calls(calls)
    , m_notifier(notifier)
    , m_window(window)
{
    connect(m_log, &CallLog::logged, this, &CallRecording::logged);
}

void CallRecording::recordNumber(const QString &received, const PhoneNumber &number, const QString &laidOut,
    const std::optional<ContactRecord> &found)
{
    CallRecord call;
    call.when = QDateTime::currentDateTime();
    call.kind = CallRecord::Kind::Number;
    call.received = received.isEmpty() ? laidOut : received;
    call.key = number.key();
    call.laidOut = laidOut;
    call.callerName = m_monitor->lastCallerName(); // when the line sent one
    record(call, found);
}

void CallRecording::recordText(const QString &text)
{
    // Withheld, unavailable, international or unreadable: a call all the
    // same, with no number to look up.
    CallRecord call;
    call.when = QDateTime::currentDateTime();
    call.kind = CallRecord::Kind::Unreadable;
    for (const auto kind : { CallerIdMessage::Kind::Withheld, CallerIdMessage::Kind::Unavailable,
             CallerIdMessage::Kind::International, CallerIdMessage::Kind::Unreadable }) {
        if (LineSource::textFor(kind) == text)
            call.kind = CallRecord::Kind(int(kind));
    }
    call.laidOut = text;
    record(call, std::nullopt);
}

void CallRecording::record(CallRecord call, const std::optional<ContactRecord> &found)
{
    call.source = m_monitor->callSource();
    call.line = m_monitor->callLine();
    if (found) {
        call.contactCode = found->cd;
        call.contactName = found->a1;
    }
    // Unseen when the attendant is in another window: the call raised this
    // one without taking the keyboard.
    const bool unseen = !m_window->isActiveWindow() && !m_calls->isActiveWindow();
    m_log->record(call, unseen);
}

void CallRecording::logged(const CallRecord &call)
{
    m_calls->refresh();
    // The line's name is quoted, so that it cannot read as a number.
    const QString who = call.contactCode > 0 ? call.contactName
        : !call.callerName.isEmpty()         ? OutsideText::quoted(OutsideText::name(call.callerName))
                                             : call.laidOut;
    const QString number
        = call.contactCode > 0 || !call.callerName.isEmpty() ? call.laidOut + QStringLiteral(" · ") : QString();
    m_notifier->notifyCall(call.id, who, number + call.when.toString(QStringLiteral("HH:mm")));
}
