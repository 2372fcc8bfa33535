#pragma once

#include "BaresipPhone.h"
#include "KamailioServer.h"

#include "core/callerid/sources/SipSource.h"

#include <QByteArrayView>
#include <QString>

#include <memory>

// What the SIP tests share: the desk's password and the file the source
// reads it from, the account on a test registrar, a listening address, and
// a phone that calls as "Padaria Estrela" from 1133334444.
class SipTestAccount
{
public:
    static constexpr QByteArrayView Password = "s3gr3d0-da-mesa";

    // Writes the password file, readable by its owner only, into `dir`.
    bool writePasswordFile(const QString &dir);
    const QString &passwordFile() const { return m_passwordFile; }

    // The source registered on `server` as zuna, over UDP or TCP.
    SipSource::Setup accountOn(const KamailioServer &server, bool tcp) const;
    // The source taking INVITEs sent straight to 127.0.0.1:`port`.
    static SipSource::Setup listeningOn(quint16 port);
    // A phone of the test's own that calls; null, said why, when baresip
    // cannot start.
    static std::unique_ptr<BaresipPhone> caller(bool tcp = false);

private:
    QString m_passwordFile;
};
