#pragma once

#include "core/app/CallArrival.h"
#include "core/contacts/ContactRecord.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class CallRecording;
class CallerLookup;
class ContactForm;
class PhoneNumber;
class QWidget;
class Register;
struct MainWindowControls;

// The window's side of a call's arrival. A number or the line's words from
// the monitor go into the form, or wait beside a form that holds the
// attendant's work (CallArrival decides); the number in Text1, from the line
// or typed, is laid out and its caller looked up and shown; each call from the
// line is logged once, and brings the window up without taking the keyboard.
// The lookup may answer later (a server across town): only the latest
// answer, for the number Text1 still holds, fills the form.
class CallReception : public QObject
{
    Q_OBJECT

public:
    // `title` heads the questions and notices it shows over `window`.
    CallReception(QWidget *window, const MainWindowControls &ui, ContactForm &form, const QString &title);

    ~CallReception() override;

    // The register the callers are looked up in; none before the window's
    // register is gone.
    void setRegister(Register *reg);
    void setRecording(CallRecording *recording) { m_recording = recording; }

public slots:
    // A number from the caller-ID monitor: written into Text1 as a new call,
    // or kept waiting beside a form that holds the attendant's work.
    void showIncomingCall(const QString &number);
    // A call without a number (withheld, unavailable, unreadable): the
    // previous caller leaves the form, or the call waits as a number does.
    void showLineText(const QString &text);
    // The waiting call into the form, at the attendant's word (F5).
    void takeWaitingCall();
    // Brings the waiting call in once the form is free.
    void offerWaitingCall();
    // Text1 changed: its number laid out, its caller looked up.
    void lookUpCaller();

private:
    CallArrival::Form formState() const;
    void holdCall(const CallArrival::Call &call);
    void putCallInForm(const CallArrival::Call &call, bool logIt);
    void showWaitingCall(const QString &text);
    // The form after a lookup of the number in Text1.
    void showLookedUp(bool looked, const std::optional<ContactRecord> &found, const QString &error);
    // The call that came in now, with the contact it was found as.
    void logCall(const PhoneNumber &number, const QString &laidOut, const std::optional<ContactRecord> &found);
    // A call brings the window up, restored and raised, without taking the
    // keyboard from the program the attendant is typing in.
    void bringUpForCall();

    QWidget *m_window;
    const MainWindowControls &m_ui;
    ContactForm &m_form;
    QString m_title;
    Register *m_register = nullptr;
    std::unique_ptr<CallerLookup> m_lookup; // asks m_register
    CallRecording *m_recording = nullptr;
    CallArrival m_arrival;
    QString m_receivedNumber; // the call's number as the line handed it over
    bool m_callFromLine = false; // Text1 is being set by a call from the line
    bool m_logCall = true; // the call Text1 is being set by is still to be logged
};
