#include "SipTestAccount.h"

#include <QDir>
#include <QFile>

bool SipTestAccount::writePasswordFile(const QString &dir)
{
    m_passwordFile = QDir(dir).filePath(QStringLiteral("sip-senha"));
    QFile file(m_passwordFile);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(Password.toByteArray() + '\n');
    file.close();
    return file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
}

SipSource::Setup SipTestAccount::accountOn(const KamailioServer &server, bool tcp) const
{
    SipSource::Setup setup;
    setup.registering = true;
    setup.address = QStringLiteral("zuna@127.0.0.1:%1%2")
                        .arg(server.port())
                        .arg(tcp ? QStringLiteral(";transport=tcp") : QString());
    setup.passwordFile = m_passwordFile;
    return setup;
}

SipSource::Setup SipTestAccount::listeningOn(quint16 port)
{
    SipSource::Setup setup;
    setup.address = QStringLiteral("127.0.0.1:%1").arg(port);
    return setup;
}

std::unique_ptr<BaresipPhone> SipTestAccount::caller(bool tcp)
{
    QString why;
    auto phone = BaresipPhone::start(QStringLiteral("\"Padaria Estrela\" <sip:1133334444@127.0.0.1%1>;regint=0")
                                         .arg(tcp ? QStringLiteral(";transport=tcp") : QString()),
        &why);
    if (!phone)
        qWarning("%s", qPrintable(why));
    return phone;
}
