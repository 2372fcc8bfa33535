#include "gui/app/CallReception.h"

#include "core/app/CallerLookup.h"
#include "core/callerid/OutsideText.h"
#include "core/contacts/ContactListModel.h"
#include "core/contacts/PhoneNumber.h"
#include "core/contacts/Register.h"
#include "gui/app/CallRecording.h"
#include "gui/app/ContactForm.h"
#include "gui/app/MainWindowLayout.h"
#include "gui/callerid/CallerIdControl.h"
#include "gui/platform/MessageBoxes.h"
#include "gui/platform/WindowAttention.h"

#include <QLabel>
#include <QLineEdit>
#include <QScopedValueRollback>

namespace {

const QString TakeWaitingCall = QStringLiteral("Descartar o que foi digitado e mostrar a chamada em espera?");

QString digitsOf(const QString &text)
{
    QString digits;
    for (const QChar c : text) {
        if (c >= u'0' && c <= u'9')
            digits.append(c);
    }
    return digits;
}

} // namespace

CallReception::CallReception(QWidget *window, const MainWindowControls &ui, ContactForm &form, const QString &title)
    : QObject(window)
    , m_window(window)
    , m_ui(ui)
    , m_form(form)
    , m_title(title)
{
}

CallReception::~CallReception() = default;

void CallReception::setRegister(Register *reg)
{
    m_lookup.reset();
    m_register = reg;
    if (reg)
        m_lookup = std::make_unique<CallerLookup>(*reg);
}

void CallReception::showIncomingCall(const QString &number)
{
    const CallArrival::Call call { number, {} };
    if (m_arrival.arrive(call, formState()) == CallArrival::Action::Wait)
        holdCall(call);
    else
        putCallInForm(call, true);
}

void CallReception::showLineText(const QString &text)
{
    if (m_recording)
        m_recording->recordText(text);
    const CallArrival::Call call { {}, text };
    if (m_arrival.arrive(call, formState()) == CallArrival::Action::Wait)
        holdCall(call);
    else
        putCallInForm(call, false);
}

CallArrival::Form CallReception::formState() const
{
    return { m_form.hasUnsavedTyping(), MessageBoxes::openCount() > 0 };
}

void CallReception::holdCall(const CallArrival::Call &call)
{
    bringUpForCall();
    if (!call.hasNumber()) { // the display shows the line's words
        showWaitingCall(QStringLiteral("%1 - F5 limpa o cadastro").arg(call.text));
        return;
    }
    // Looked up and logged now, as a call shown in the form would be; the
    // form itself stays as the attendant left it.
    const PhoneNumber number = PhoneNumber::read(call.number, m_ui.areaCode->text());
    const QString laidOut = number.layout(true);
    // On a server across town the answer comes later: the call waits,
    // shown by its number, meanwhile.
    if (!m_register->answersWithin(ContactListModel::windowBudgetMs()))
        showWaitingCall(QStringLiteral("Em espera: %1 - F5 mostra no cadastro").arg(laidOut));
    m_lookup->findAside(number,
        [this, number, laidOut, call, lineName = m_ui.callerId->lastCallerName()](const CallerLookup::Answer &answer) {
            const std::optional<ContactRecord> found = answer.looked ? answer.found : std::nullopt;
            const QString newer = std::exchange(m_receivedNumber, call.number);
            logCall(number, laidOut, found);
            m_receivedNumber = newer;
            // Said only while this call is still the one waiting.
            const auto &waiting = m_arrival.waiting();
            if (!waiting || waiting->number != call.number)
                return;
            const QString name = OutsideText::name(found ? found->a1 : lineName);
            const QString who = name.isEmpty() ? laidOut : laidOut + QStringLiteral(" · ") + OutsideText::quoted(name);
            if (found)
                m_ui.callerId->showCaller(laidOut, name);
            showWaitingCall(QStringLiteral("Em espera: %1 - F5 mostra no cadastro").arg(who));
        });
}

void CallReception::showWaitingCall(const QString &text)
{
    m_ui.waitingCall->setText(
        m_ui.waitingCall->fontMetrics().elidedText(text, Qt::ElideMiddle, m_ui.waitingCall->width() - 6));
    m_ui.waitingCall->setToolTip(OutsideText::toolTip(text));
    m_ui.waitingCall->show();
    m_ui.waitingCall->raise();
}

void CallReception::putCallInForm(const CallArrival::Call &call, bool logIt)
{
    m_ui.waitingCall->hide();
    if (!call.hasNumber()) {
        // No number: whoever the form showed is not this caller.
        bringUpForCall();
        m_form.empty();
        return;
    }
    // A call from the line: what the form holds belongs to someone else.
    const QScopedValueRollback fromLine(m_callFromLine, true);
    const QScopedValueRollback logging(m_logCall, logIt);
    m_receivedNumber = call.number;
    if (m_ui.incomingNumber->text() == call.number)
        lookUpCaller(); // the same number again is a new call all the same
    else
        m_ui.incomingNumber->setText(call.number);
}

void CallReception::offerWaitingCall()
{
    if (const auto call = m_arrival.release(formState()))
        putCallInForm(*call, false);
}

void CallReception::takeWaitingCall()
{
    if (!m_arrival.waiting())
        return;
    if (m_form.hasUnsavedTyping() && !MessageBoxes::confirmDefaultNo(m_window, m_title, TakeWaitingCall))
        return;
    // The newest call, which may have come while the question was open.
    if (const auto call = m_arrival.take()) {
        m_form.forget();
        putCallInForm(*call, false);
    }
}

void CallReception::bringUpForCall()
{
    // The caller must be seen before the call is answered, but the keyboard
    // stays in the program the attendant is typing in.
    WindowAttention::bringUpWithoutFocus(m_window);
}

void CallReception::lookUpCaller()
{
    const QString text = m_ui.incomingNumber->text();
    if (!m_lookup)
        return; // no register yet
    m_lookup->forget(); // a lookup on its way is not for what Text1 holds now
    if (text.isEmpty())
        return;
    bringUpForCall();

    // A number typed by hand is laid out from its own digits at each key, so
    // that the next digit still extends it, and only when the layout keeps
    // every digit typed (080077712 on its way to a 0800 number is not the
    // local 8007-7712); one from the line is complete.
    const PhoneNumber number = PhoneNumber::read(text, m_ui.areaCode->text());
    QString laidOut = number.layout(m_callFromLine);
    if (!m_callFromLine && digitsOf(laidOut) != digitsOf(text))
        laidOut = text;
    if (laidOut != text) {
        m_ui.incomingNumber->setText(laidOut); // runs this handling again, on the laid-out number
        return;
    }
    // The answer may come later (a server across town): it is shown only
    // while it is the latest and Text1 still holds its number, with the
    // flags of the call it was asked for.
    m_lookup->find(number,
        [this, number, text, fromLine = m_callFromLine, logIt = m_logCall, received = m_receivedNumber](
            const CallerLookup::Answer &answer) {
            const bool shown = answer.latest && m_ui.incomingNumber->text() == text;
            // Logged before anything is said about it, whatever the window
            // is doing, with the number the line handed over for this call.
            if (fromLine && logIt) {
                const QString newer = std::exchange(m_receivedNumber, received);
                logCall(number, text, answer.found);
                if (!shown)
                    m_receivedNumber = newer;
            }
            if (!shown)
                return;
            const QScopedValueRollback fromLineNow(m_callFromLine, fromLine);
            showLookedUp(answer.looked, answer.found, answer.error);
        });
}

void CallReception::showLookedUp(bool looked, const std::optional<ContactRecord> &found, const QString &error)
{
    if (!looked) {
        MessageBoxes::error(m_window, m_title,
            QStringLiteral("Não foi possível procurar o número no cadastro.") + QStringLiteral("\n\n") + error);
    } else if (found) {
        // The telephone field gets the incoming number below. The code label
        // and the notes follow the caller, so that a save updates the
        // caller's own row and keeps the caller's own notes.
        m_form.show(*found, false);
        m_ui.codeLabel->setText(QString::number(found->cd));
    } else {
        // An unknown caller: a save must store a new contact, never overwrite
        // the one picked before the call. A caller from the line must not be
        // greeted with the previous caller's name; half a number typed by hand
        // must not wipe what the attendant typed.
        m_ui.codeLabel->clear();
        m_form.forgetStored();
        if (m_callFromLine)
            m_form.show(ContactRecord(), false);
    }
    m_ui.phone->setText(m_ui.incomingNumber->text());
    // The number put there from Text1 is the window's, not typing of the
    // form: a call's number, or one typed into Text1, which the next call
    // replaces anyway.
    m_form.takeTelephoneAsShown();
}

void CallReception::logCall(
    const PhoneNumber &number, const QString &laidOut, const std::optional<ContactRecord> &found)
{
    if (m_recording)
        m_recording->recordNumber(m_receivedNumber, number, laidOut, found);
    m_receivedNumber.clear();
}
