#pragma once

#include "core/app/RegisterErrand.h"
#include "core/contacts/ContactRecord.h"
#include "core/contacts/PhoneNumber.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class Register;

// Looks the caller of a call up in the register: at once when the register
// answers the window's thread within a moment (a file, a server next door);
// on a thread of its own when it does not (a server across town), so that
// the window keeps answering while the lookup is on its way. Every lookup
// gets its answer, in the order asked; `latest` says whether a newer lookup
// (or forget()) came meanwhile, whose answer is the one to show.
class CallerLookup : public QObject
{
    Q_OBJECT

public:
    struct Answer
    {
        bool looked = false; // false: the register could not be asked
        std::optional<ContactRecord> found;
        QString error;
        bool latest = true;
    };
    using Done = std::function<void(const Answer &)>;

    explicit CallerLookup(Register &reg, QObject *parent = nullptr);
    ~CallerLookup() override;

    // `done` runs now, or later on this object's thread.
    void find(const PhoneNumber &number, Done done);
    // A lookup that is not for Text1 (a call held waiting): it leaves the
    // latest lookup the latest.
    void findAside(const PhoneNumber &number, Done done);
    // Lookups still on their way are no longer the latest.
    void forget() { ++m_latest; }

private:
    void ask(const PhoneNumber &number, std::optional<quint64> ticket, Done done);

    Register &m_register;
    RegisterErrand m_errand;
    quint64 m_latest = 0;
};
