#include "core/callerid/sources/SipSource.h"

#include "core/callerid/sources/Reconnector.h"
#include "core/callerid/sources/SipAgent.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>

SipSource::SipSource(Setup setup, QString areaCode, QObject *parent)
    : LineSource(std::move(areaCode), parent)
    , m_setup(std::move(setup))
    , m_reconnect(new Reconnector(
          [this] {
              if (m_agent)
                  m_agent->retry();
          },
          this))
    , m_patience(new QTimer(this))
{
    m_patience->setSingleShot(true);
    connect(m_patience, &QTimer::timeout, this, [this] {
        if (m_agent)
            m_agent->retry();
    });
}

SipSource::~SipSource()
{
    stop();
}

bool SipSource::readPassword(const QString &path, QByteArray *password, QString *error)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        *error = QStringLiteral("o arquivo de senha %1 não existe").arg(path);
        return false;
    }
    if (info.permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther)) {
        *error = QStringLiteral("o arquivo de senha %1 pode ser lido por outros usuários; deixe-o só seu "
                                "(chmod 600 %1)")
                     .arg(path);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("não foi possível ler o arquivo de senha %1: %2").arg(path, file.errorString());
        return false;
    }
    *password = file.readLine(4096);
    while (password->endsWith('\n') || password->endsWith('\r'))
        password->chop(1);
    if (password->isEmpty()) {
        *error = QStringLiteral("o arquivo de senha %1 está vazio").arg(path);
        return false;
    }
    return true;
}

void SipSource::start()
{
    stop();
    SipAgent::Setup setup;
    setup.registering = m_setup.registering;
    QString why;
    const bool readable = setup.registering ? SipAddress::readAccount(m_setup.address, &setup.address, &why)
                                            : SipAddress::readListening(m_setup.address, &setup.address, &why);
    if (!readable) {
        reportStatus(QStringLiteral("Fonte SIP sem endereço válido: %1.").arg(why), false);
        return;
    }
    setup.authUser = m_setup.authUser.toUtf8();
    setup.expiresSeconds = m_setup.expiresSeconds;
    setup.maxTcpConnections = m_setup.maxTcpConnections;
    if (setup.registering) {
        if (!readPassword(m_setup.passwordFile, &setup.password, &why)) {
            reportStatus(QStringLiteral("Conta SIP %1 sem senha: %2.").arg(m_setup.address, why), false);
            return;
        }
    }
    // The agent calls back on its own thread; its news are handed to this
    // one. The agent is joined before the source goes, and news from an
    // agent already replaced are dropped.
    const int generation = ++m_generation;
    SipAgent::Handlers handlers;
    handlers.call = [this, generation](const CallerIdMessage &message) {
        QMetaObject::invokeMethod(
            this,
            [this, generation, message] {
                if (generation == m_generation)
                    deliver(message);
            },
            Qt::QueuedConnection);
    };
    handlers.status = [this, generation](const QString &status, bool healthy) {
        QMetaObject::invokeMethod(
            this,
            [this, generation, status, healthy] {
                if (generation == m_generation)
                    report(status, healthy);
            },
            Qt::QueuedConnection);
    };
    handlers.refused = [this, generation](const QString &why) {
        QMetaObject::invokeMethod(
            this,
            [this, generation, why] {
                if (generation == m_generation)
                    refused(why);
            },
            Qt::QueuedConnection);
    };
    m_agent = std::make_unique<SipAgent>(std::move(setup), std::move(handlers));
}

void SipSource::stop()
{
    ++m_generation;
    m_reconnect->stop();
    m_patience->stop();
    m_refusals = 0;
    m_agent.reset();
}

void SipSource::report(const QString &status, bool healthy)
{
    if (healthy) {
        m_reconnect->succeeded();
        m_refusals = 0;
    } else {
        m_reconnect->failed();
    }
    reportStatus(status, healthy);
}

void SipSource::refused(const QString &why)
{
    if (++m_refusals < RefusalsBeforeWaiting) {
        report(why + QStringLiteral("; tentando de novo."), false);
        return;
    }
    const int minutes
        = std::min(FirstWaitMinutes << std::min(m_refusals - RefusalsBeforeWaiting, 8), LongestWaitMinutes);
    m_reconnect->stop();
    m_patience->start(minutes * 60 * 1000);
    reportStatus(QStringLiteral("%1; nova tentativa em %2 min, para que o provedor não bloqueie este endereço "
                                "por tentativas erradas. Confira a conta e a senha.")
                     .arg(why)
                     .arg(minutes),
        false);
}

QString SipSource::lineName() const
{
    return m_setup.address;
}
