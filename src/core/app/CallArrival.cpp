#include "core/app/CallArrival.h"

#include <utility>

CallArrival::Action CallArrival::arrive(const Call &call, const Form &form)
{
    if (!isFree(form)) {
        m_waiting = call;
        return Action::Wait;
    }
    m_waiting.reset(); // the newest call is the one shown
    return actionFor(call);
}

std::optional<CallArrival::Call> CallArrival::release(const Form &form)
{
    if (!m_waiting || !isFree(form))
        return std::nullopt;
    return take();
}

std::optional<CallArrival::Call> CallArrival::take()
{
    return std::exchange(m_waiting, std::nullopt);
}

CallArrival::Action CallArrival::actionFor(const Call &call)
{
    return call.hasNumber() ? Action::ShowCaller : Action::EmptyForm;
}
