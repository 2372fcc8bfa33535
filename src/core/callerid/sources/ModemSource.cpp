#include "core/callerid/sources/ModemSource.h"

#include "core/callerid/sources/Reconnector.h"

#include <QSerialPort>

#include <utility>

ModemSource::ModemSource(QString port, int baud, QString init, QString areaCode, QObject *parent)
    : LineSource(std::move(areaCode), parent)
    , m_portName(std::move(port))
    , m_baud(baud)
    , m_init(std::move(init))
    , m_port(new QSerialPort(this))
    , m_reconnect(new Reconnector([this] { open(); }, this))
{
    connect(m_port, &QSerialPort::readyRead, this, &ModemSource::readLines);
    m_nameWait.setSingleShot(true);
    m_nameWait.setInterval(NameWaitMs);
    connect(&m_nameWait, &QTimer::timeout, this, &ModemSource::deliverPending);
    connect(m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
        if (e != QSerialPort::NoError && e != QSerialPort::TimeoutError && m_port->isOpen())
            fail(m_port->errorString());
    });
}

ModemSource::~ModemSource()
{
    stop();
}

void ModemSource::start()
{
    m_running = true;
    m_reconnect->stop();
    open();
}

void ModemSource::stop()
{
    m_running = false;
    m_reconnect->stop();
    if (m_port->isOpen())
        m_port->close();
}

void ModemSource::open()
{
    if (!m_running)
        return;
    m_port->setPortName(m_portName);
    m_port->setBaudRate(m_baud);
    if (!m_port->open(QIODevice::ReadWrite)) {
        fail(m_port->errorString());
        return;
    }
    m_lines.clear();
    deliverPending();
    forgetNameBefore();
    m_port->write((m_init + QStringLiteral("\r")).toLatin1());
    m_reconnect->succeeded();
    reportStatus(QStringLiteral("Modem pronto em %1").arg(m_portName), true);
}

void ModemSource::fail(const QString &why)
{
    if (m_port->isOpen())
        m_port->close();
    if (!m_running)
        return;
    reportStatus(
        QStringLiteral("O modem em %1 não responde; tentando de novo.\nDetalhe: %2").arg(m_portName, why), false);
    m_reconnect->failed();
}

void ModemSource::readLines()
{
    for (const QByteArray &raw : m_lines.feed(m_port->readAll())) {
        const QString line = QString::fromLatin1(raw).trimmed();
        const QString field = line.section(QLatin1Char('='), 0, 0).trimmed();
        const QString value = line.section(QLatin1Char('='), 1).trimmed();
        if (field == QLatin1String("RING") || field == QLatin1String("DATE")) {
            // Another call's lines begin: nothing of the one before is left
            // for it, a number that got no name goes without one.
            deliverPending();
            forgetNameBefore();
        } else if (field == QLatin1String("NMBR")) {
            // A name just before the number is this call's; one left from a
            // call whose number was lost is too old by now.
            const bool fresh = m_nameBeforeAge.isValid() && m_nameBeforeAge.elapsed() < NameWaitMs;
            const QString name = fresh ? m_nameBefore : QString();
            forgetNameBefore();
            deliverPending(); // an earlier number that got no name
            if (value == QLatin1String("P"))
                deliverText(textFor(CallerIdMessage::Kind::Withheld));
            else if (value == QLatin1String("O"))
                deliverText(textFor(CallerIdMessage::Kind::Unavailable));
            else if (value.isEmpty())
                deliverText(textFor(CallerIdMessage::Kind::Unreadable));
            else {
                // A name after the number, which most modems send, is waited for.
                m_pendingNumber = value;
                m_pendingName = name;
                m_nameWait.start();
            }
        } else if (field == QLatin1String("NAME")) {
            // "O" and "P": no name sent (unavailable, private).
            const QString name = value == QLatin1String("O") || value == QLatin1String("P") ? QString() : value;
            if (!m_pendingNumber.isEmpty()) {
                m_pendingName = name;
                deliverPending();
            } else {
                m_nameBefore = name;
                m_nameBeforeAge.start();
            }
        }
    }
}

void ModemSource::forgetNameBefore()
{
    m_nameBefore.clear();
    m_nameBeforeAge.invalidate();
}

void ModemSource::deliverPending()
{
    m_nameWait.stop();
    if (!m_pendingNumber.isEmpty())
        deliverNumber(std::exchange(m_pendingNumber, QString()), std::exchange(m_pendingName, QString()));
    m_pendingName.clear();
}

QString ModemSource::lineName() const
{
    return m_portName;
}
