#include "core/app/CallerLookup.h"

#include "core/contacts/ContactListModel.h"
#include "core/contacts/Register.h"

#include <memory>

CallerLookup::CallerLookup(Register &reg, QObject *parent)
    : QObject(parent)
    , m_register(reg)
    , m_errand(reg)
{
}

CallerLookup::~CallerLookup() = default;

void CallerLookup::find(const PhoneNumber &number, Done done)
{
    ask(number, ++m_latest, std::move(done));
}

void CallerLookup::findAside(const PhoneNumber &number, Done done)
{
    ask(number, std::nullopt, std::move(done));
}

void CallerLookup::ask(const PhoneNumber &number, std::optional<quint64> ticket, Done done)
{
    if (m_register.answersWithin(ContactListModel::windowBudgetMs())) {
        Answer answer;
        answer.looked = m_register.findCaller(number, &answer.found, &answer.error);
        done(answer);
        return;
    }
    auto answer = std::make_shared<Answer>();
    m_errand.run(
        [this, number, answer] { answer->looked = m_register.findCaller(number, &answer->found, &answer->error); },
        [this, answer, ticket, done] {
            answer->latest = !ticket || *ticket == m_latest;
            done(*answer);
        });
}
