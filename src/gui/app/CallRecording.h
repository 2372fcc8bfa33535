#pragma once

#include "core/contacts/CallRecord.h"
#include "core/contacts/ContactRecord.h"

#include <QObject>
#include <QString>

#include <optional>

class CallLog;
class CallNotifier;
class CallerIdControl;
class CallsWindow;
class PhoneNumber;
class QWidget;

// Writes each call to the call log as it arrives, with the line it came on
// and the contact it was found as, and tells the desktop about it once it is
// logged. A call is unseen when the attendant is in another program.
class CallRecording : public QObject
{
    Q_OBJECT

public:
    CallRecording(CallerIdControl *monitor, CallLog *log, CallsWindow *calls, CallNotifier *notifier, QWidget *window,
        QObject *parent = nullptr);

    // A call with a number: `received` as the line handed it over (empty:
    // the laid-out number), its key and layout, and whom it was found as.
    void recordNumber(const QString &received, const PhoneNumber &number, const QString &laidOut,
        const std::optional<ContactRecord> &found);
    // A call without one: the line's words (withheld, unavailable, …).
    void recordText(const QString &text);

private:
    void record(CallRecord call, const std::optional<ContactRecord> &found);
    void logged(const CallRecord &call);

    CallerIdControl *m_monitor;
    CallLog *m_log;
    CallsWindow *m_calls;
    CallNotifier *m_notifier;
    QWidget *m_window;
};
