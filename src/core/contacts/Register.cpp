#include "core/contacts/Register.h"

#include "core/contacts/PhoneNumber.h"
#include "core/contacts/PostgresRegister.h"
#include "core/contacts/SqlConnection.h"
#include "core/contacts/SqliteRegister.h"
#include "core/platform/DataFiles.h"
#include "core/platform/DataFolder.h"

#include <QSettings>

// registro.ini: the server, in libpq's own terms (a connection URI such as
// postgresql://zuna@servidor/zuna, or service=zuna). Passwords belong in
// ~/.pgpass or the service file, never here.
const QString Register::ServerKey = QStringLiteral("postgresql/servidor");

Register::Register(QObject *parent)
    : QObject(parent)
{
}

Register::~Register() = default;

QString Register::serverFor(const QString &dataDir, const QString &databaseUrl)
{
    if (!databaseUrl.isEmpty())
        return databaseUrl;
    const QString ini = DataFolder::findFile(dataDir, DataFiles::RegisterSettings);
    if (ini.isEmpty())
        return {};
    return QSettings(ini, QSettings::IniFormat).value(ServerKey).toString().trimmed();
}

std::unique_ptr<Register> Register::open(
    const QString &dataDir, const QString &databaseUrl, Patience patience, QString *error)
{
    std::unique_ptr<Register> opened;
    const QString server = serverFor(dataDir, databaseUrl);
    if (server.isEmpty()) {
        opened = std::make_unique<SqliteRegister>(DataFolder::pathFor(dataDir, DataFiles::Contacts),
            DataFolder::pathFor(dataDir, DataFiles::AreaCode), patience);
    } else {
        auto postgres = std::make_unique<PostgresRegister>(server, patience);
        if (!postgres->connectNow(error))
            return nullptr;
        opened = std::move(postgres);
    }
    if (!opened->upgrade(error))
        return nullptr;
    return opened;
}

bool Register::findCaller(const PhoneNumber &number, std::optional<ContactRecord> *result, QString *error)
{
    result->reset();
    const QStringList keys = number.lookupKeys();
    if (keys.isEmpty())
        return true;
    return findByKeys(keys, number.layout(), result, error);
}

bool Register::changedSinceRead(const QList<Rewrite> &rewrites, qint64 code, QString *error)
{
    QString name;
    for (const Rewrite &r : rewrites) {
        if (r.record.cd == code)
            name = r.asLoaded.a1;
    }
    if (error)
        *error = QStringLiteral("O contato \"%1\" (código %2) mudou no cadastro depois que o arquivo foi lido; "
                                "nada foi gravado. Leia o arquivo de novo.")
                     .arg(name)
                     .arg(code);
    return false;
}
