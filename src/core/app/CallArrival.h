#pragma once

#include <QString>

#include <optional>

// What a call from the line does to the contact form. The form belongs to
// the attendant: while it holds typing not saved, or while a question waits
// for an answer, a call does not replace or empty it. It waits beside it,
// shown on the display and in the call log, until the form is saved or
// cleared, or until the attendant asks for it. Only the newest call waits:
// an older one would put a caller on the screen who is no longer on the line.
class CallArrival
{
public:
    // The form as a call finds it.
    struct Form
    {
        bool unsaved = false; // typing that is not stored
        bool questionOpen = false; // a question or notice waits for its answer
    };

    // A call: a number, or the line's words for a call without one
    // (withheld, unavailable, unreadable).
    struct Call
    {
        QString number;
        QString text;
        bool hasNumber() const { return !number.isEmpty(); }
    };

    enum class Action {
        ShowCaller, // the number goes into the form and the caller is looked up
        EmptyForm, // no number: the previous caller leaves the form
        Wait, // the form is the attendant's: the call waits beside it
    };

    static bool isFree(const Form &form) { return !form.unsaved && !form.questionOpen; }

    // A call now: what it does to the form. A call that must wait replaces
    // the one waiting before it.
    Action arrive(const Call &call, const Form &form);
    // The form may have become free: the waiting call, when there is one and
    // the form is free now, leaves the queue to be shown.
    std::optional<Call> release(const Form &form);
    // The attendant asked for the waiting call: it leaves the queue whatever
    // the form holds.
    std::optional<Call> take();
    // What a call taken from the queue does to the form.
    static Action actionFor(const Call &call);

    const std::optional<Call> &waiting() const { return m_waiting; }

private:
    std::optional<Call> m_waiting;
};
