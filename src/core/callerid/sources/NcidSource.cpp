#include "core/callerid/sources/NcidSource.h"

#include "core/callerid/sources/Reconnector.h"

#include <QTcpSocket>
#include <QTimer>

NcidSource::NcidSource(QString host, int port, QString areaCode, QObject *parent)
    : LineSource(std::move(areaCode), parent)
    , m_host(std::move(host))
    , m_portNumber(port)
    , m_socket(new QTcpSocket(this))
    , m_reconnect(new Reconnector([this] { connectNow(); }, this))
{
    connect(m_socket, &QTcpSocket::readyRead, this, &NcidSource::readLines);
    connect(m_socket, &QTcpSocket::connected, this, [this] {
        m_reconnect->succeeded();
        m_lines.clear();
        reportStatus(QStringLiteral("Conectado ao servidor NCID %1:%2").arg(m_host).arg(m_portNumber), true);
    });
    connect(
        m_socket, &QTcpSocket::disconnected, this, [this] { fail(QStringLiteral("o servidor encerrou a conexão")); });
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this] { fail(m_socket->errorString()); });
}

NcidSource::~NcidSource()
{
    stop();
}

void NcidSource::start()
{
    m_running = true;
    m_reconnect->stop();
    connectNow();
}

void NcidSource::stop()
{
    m_running = false;
    m_reconnect->stop();
    m_socket->abort();
}

void NcidSource::connectNow()
{
    if (m_running && m_socket->state() == QAbstractSocket::UnconnectedState)
        m_socket->connectToHost(m_host, quint16(m_portNumber));
}

void NcidSource::fail(const QString &why)
{
    if (!m_running || m_reconnect->isWaiting())
        return;
    m_socket->abort();
    reportStatus(QStringLiteral("Sem conexão com o servidor NCID %1:%2; tentando de novo.\nDetalhe: %3")
                     .arg(m_host)
                     .arg(m_portNumber)
                     .arg(why),
        false);
    m_reconnect->failed();
}

QHash<QString, QString> NcidSource::fields(const QString &line)
{
    QHash<QString, QString> result;
    const QStringList parts = line.section(QLatin1Char(':'), 1).trimmed().split(QLatin1Char('*'));
    // "*NAME*value*NAME*value*": names at odd places after the leading '*'.
    for (qsizetype i = 1; i + 1 < parts.size(); i += 2)
        result.insert(parts.at(i), parts.at(i + 1));
    return result;
}

QString NcidSource::callerName(const QHash<QString, QString> &fields)
{
    const QString name = fields.value(QStringLiteral("NAME")).simplified();
    const QString upper = name.toUpper();
    if (upper == QLatin1String("NO NAME") || upper == QLatin1String("-"))
        return {};
    return name;
}

void NcidSource::readLines()
{
    // A bounded bite per turn of the event loop: a flood from the server
    // never holds the window; the rest is read at the next turn.
    constexpr qint64 Bite = 16 * 1024;
    const QByteArray bytes = m_socket->read(Bite);
    if (m_socket->bytesAvailable() > 0)
        QTimer::singleShot(0, this, &NcidSource::readLines);
    for (const QByteArray &raw : m_lines.feed(bytes)) {
        if (!raw.startsWith("CID:"))
            continue;
        const QHash<QString, QString> call = fields(QString::fromUtf8(raw));
        const QString number = call.value(QStringLiteral("NMBR")).trimmed();
        const QString line = call.value(QStringLiteral("LINE")).trimmed();
        m_lineLabel = line == QLatin1String("-") ? QString() : line;
        const QString upper = number.toUpper();
        if (upper == QLatin1String("PRIVATE") || upper == QLatin1String("P") || upper == QLatin1String("ANONYMOUS"))
            deliverText(textFor(CallerIdMessage::Kind::Withheld));
        else if (upper == QLatin1String("OUT-OF-AREA") || upper == QLatin1String("O") || upper == QLatin1String("-")
            || upper == QLatin1String("NO NUMBER") || upper.isEmpty())
            deliverText(textFor(CallerIdMessage::Kind::Unavailable));
        else
            deliverNumber(number, callerName(call));
    }
}

QString NcidSource::lineName() const
{
    const QString server = QStringLiteral("%1:%2").arg(m_host).arg(m_portNumber);
    return m_lineLabel.isEmpty() ? server : server + QLatin1Char(' ') + m_lineLabel;
}
