#include "app/CallerLookup.h"

#include "contacts/ContactListModel.h"
#include "contacts/Register.h"

#include <QPointer>
#include <QThread>

CallerLookup::CallerLookup(Register &reg, QObject *parent)
    : QObject(parent)
    , m_register(reg)
{
}

CallerLookup::~CallerLookup()
{
    if (!m_thread)
        return;
    // A lookup on its way is let finish: the register's connection of that
    // thread is in use until then.
    m_thread->quit();
    m_thread->wait();
    delete m_context;
    delete m_thread;
}

void CallerLookup::find(const PhoneNumber &number, Done done)
{
    const quint64 ticket = ++m_latest;
    if (m_register.answersWithin(ContactListModel::windowBudgetMs())) {
        Answer answer;
        answer.looked = m_register.findCaller(number, &answer.found, &answer.error);
        done(answer);
        return;
    }
    if (!m_thread) {
        m_thread = new QThread;
        m_thread->setObjectName(QStringLiteral("zuna-chamada"));
        m_context = new QObject;
        m_context->moveToThread(m_thread);
        m_thread->start();
    }
    QMetaObject::invokeMethod(m_context, [this, number, ticket, done, self = QPointer<CallerLookup>(this)] {
        Answer answer;
        answer.looked = m_register.findCaller(number, &answer.found, &answer.error);
        QMetaObject::invokeMethod(
            this,
            [this, answer, ticket, done, self]() mutable {
                if (!self)
                    return;
                answer.latest = ticket == m_latest;
                done(answer);
            },
            Qt::QueuedConnection);
    });
}
