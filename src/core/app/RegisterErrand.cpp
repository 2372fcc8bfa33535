#include "core/app/RegisterErrand.h"

#include "core/contacts/ContactListModel.h"
#include "core/contacts/Register.h"

#include <QThread>

RegisterErrand::RegisterErrand(Register &reg, QObject *parent)
    : QObject(parent)
    , m_register(reg)
{
    // For a server across town the thread and its connection are made now:
    // the first errand, a call's lookup perhaps, does not wait for them.
    if (!reg.answersWithin(ContactListModel::windowBudgetMs()))
        start();
}

void RegisterErrand::start()
{
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("zuna-cadastro"));
    m_context = new QObject;
    m_context->moveToThread(m_thread);
    m_thread->start();
    QMetaObject::invokeMethod(m_context, [this] { m_register.servesWindow(); });
}

RegisterErrand::~RegisterErrand()
{
    if (!m_thread)
        return;
    m_thread->quit();
    m_thread->wait();
    delete m_context;
    delete m_thread;
}

void RegisterErrand::run(std::function<void()> work, std::function<void()> done)
{
    if (!m_thread)
        start();
    QMetaObject::invokeMethod(m_context, [this, work = std::move(work), done = std::move(done)] {
        work();
        QMetaObject::invokeMethod(this, done, Qt::QueuedConnection);
    });
}
