#include "BaresipPhone.h"

#include "TestSupport.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTest>

std::unique_ptr<BaresipPhone> BaresipPhone::start(const QString &account, QString *why)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("baresip"));
    if (program.isEmpty()) {
        *why = QStringLiteral("baresip is not installed");
        return nullptr;
    }
    // The ports are free when chosen, not always when baresip binds them (the
    // TLS port beside the SIP one is not checked; other programs run tests
    // too): a port taken meanwhile is a new try with other ports.
    for (int attempt = 0; attempt < 5; ++attempt) {
        auto phone = launch(program, account, why);
        if (phone || !why->contains(QLatin1String("Address already in use")))
            return phone;
    }
    return nullptr;
}

std::unique_ptr<BaresipPhone> BaresipPhone::launch(const QString &program, const QString &account, QString *why)
{
    std::unique_ptr<BaresipPhone> phone(new BaresipPhone);
    phone->m_dir = std::make_unique<QTemporaryDir>();
    // baresip takes the SIP port + 1 for TLS as well: the control port is
    // chosen apart from both.
    quint16 sipPort = 0, controlPort = 0;
    do {
        sipPort = freeLocalPort();
        controlPort = freeLocalPort();
    } while (controlPort == sipPort || controlPort == sipPort + 1);
    const QByteArray config = "sip_listen 127.0.0.1:" + QByteArray::number(sipPort)
        + "\n"
          "module_path /usr/lib/baresip/modules\n"
          "module g711.so\n"
          "module_app account.so\n"
          "module_app menu.so\n"
          "module_app ctrl_tcp.so\n"
          "ctrl_tcp_listen 127.0.0.1:"
        + QByteArray::number(controlPort)
        + "\n"
          "audio_player aufile,/dev/null\n"
          "audio_source aufile,/dev/null\n"
          "audio_alert aufile,/dev/null\n";
    const auto write = [&](const QString &name, const QByteArray &bytes) {
        QFile file(phone->m_dir->filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    if (!write(QStringLiteral("config"), config) || !write(QStringLiteral("accounts"), account.toUtf8() + '\n')) {
        *why = QStringLiteral("cannot write baresip's configuration");
        return nullptr;
    }
    phone->m_process = std::make_unique<QProcess>();
    phone->m_process->setProcessChannelMode(QProcess::MergedChannels);
    BaresipPhone *self = phone.get();
    QObject::connect(
        self->m_process.get(), &QProcess::readyRead, [self] { self->m_output += self->m_process->readAll(); });
    phone->m_process->start(program, { QStringLiteral("-f"), phone->m_dir->path() });
    if (!phone->m_process->waitForStarted(5000)) {
        *why = QStringLiteral("baresip did not start");
        return nullptr;
    }
    (void)QTest::qWaitFor(
        [&] {
            phone->m_control.connectToHost(QHostAddress::LocalHost, controlPort);
            if (phone->m_control.waitForConnected(100))
                return true;
            phone->m_control.abort();
            return phone->m_process->state() == QProcess::NotRunning;
        },
        15000);
    if (phone->m_control.state() != QAbstractSocket::ConnectedState) {
        phone->m_process->waitForReadyRead(100);
        phone->m_output += phone->m_process->readAll();
        *why = QStringLiteral("baresip's control port did not answer: %1").arg(phone->output());
        return nullptr;
    }
    QObject::connect(&phone->m_control, &QTcpSocket::readyRead, [self] { self->readEvents(); });
    return phone;
}

BaresipPhone::~BaresipPhone()
{
    m_control.abort();
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(3000))
            m_process->kill();
        m_process->waitForFinished(2000);
    }
}

void BaresipPhone::send(const QByteArray &json)
{
    m_control.write(QByteArray::number(json.size()) + ':' + json + ',');
    m_control.flush();
}

void BaresipPhone::dial(const QString &uri)
{
    send(QJsonDocument(QJsonObject { { QStringLiteral("command"), QStringLiteral("dial") },
                           { QStringLiteral("params"), uri }, { QStringLiteral("token"), QStringLiteral("1") } })
             .toJson(QJsonDocument::Compact));
}

void BaresipPhone::hangUp()
{
    send(QJsonDocument(QJsonObject { { QStringLiteral("command"), QStringLiteral("hangup") },
                           { QStringLiteral("token"), QStringLiteral("2") } })
             .toJson(QJsonDocument::Compact));
}

void BaresipPhone::readEvents()
{
    m_pending += m_control.readAll();
    // Netstrings: "<length>:<bytes>,".
    while (true) {
        const qsizetype colon = m_pending.indexOf(':');
        if (colon < 0)
            return;
        bool ok = false;
        const qsizetype length = m_pending.left(colon).toLongLong(&ok);
        if (!ok || m_pending.size() < colon + 1 + length + 1)
            return;
        const QJsonObject message = QJsonDocument::fromJson(m_pending.mid(colon + 1, length)).object();
        m_pending.remove(0, colon + 1 + length + 1);
        if (!message.value(QStringLiteral("event")).toBool())
            continue;
        const QString type = message.value(QStringLiteral("type")).toString();
        m_events.append(type);
        if (type == QLatin1String("CALL_CLOSED"))
            m_closedReason = message.value(QStringLiteral("param")).toString();
    }
}
