#include "core/app/DataInit.h"

#include "core/contacts/AccessImport.h"
#include "core/contacts/PhoneNumber.h"
#include "core/contacts/PostgresConnection.h"
#include "core/contacts/PostgresRegister.h"
#include "core/contacts/PostgresSchema.h"
#include "core/contacts/Register.h"
#include "core/contacts/SqliteRegister.h"
#include "core/platform/DataFiles.h"
#include "core/platform/DataFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>

namespace DataInit {

namespace {

bool writeSiteFile(const QString &path, QString *error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write("Minha empresa\n");
        if (file.commit())
            return true;
    }
    *error = QStringLiteral("Não foi possível criar o arquivo com o nome do local.\nArquivo: %1\nDetalhe: %2")
                 .arg(path, file.errorString());
    return false;
}

// What to do with a password given on the command line: it is used for this
// run, never written down.
QString passwordAdvice(const QString &server)
{
    if (!PostgresConnection::hasPassword(server))
        return {};
    return QStringLiteral("A senha do servidor não foi gravada: o Zuna nunca a guarda. Ponha-a em ~/.pgpass "
                          "(uma linha servidor:porta:banco:usuário:senha, e chmod 600 ~/.pgpass) ou no arquivo "
                          "de serviço do PostgreSQL.");
}

// registro.ini naming the server (without a password), unless the folder
// has one already.
bool writeRegisterSettings(const QString &dir, const QString &server, QStringList *report, QString *error)
{
    const QString existing = DataFolder::findFile(dir, DataFiles::RegisterSettings);
    if (!existing.isEmpty()) {
        report->append(QStringLiteral("Já existe, mantido: %1").arg(existing));
        return true;
    }
    const QString path = QDir(dir).filePath(DataFiles::RegisterSettings);
    QSettings ini(path, QSettings::IniFormat);
    ini.setValue(Register::ServerKey, PostgresConnection::shown(server));
    ini.sync();
    if (ini.status() != QSettings::NoError) {
        *error = QStringLiteral("Não foi possível criar o arquivo %1.").arg(path);
        return false;
    }
    DataFolder::makePrivate(path);
    report->append(QStringLiteral("Criado: %1 (cadastro no servidor %2)").arg(path, PostgresRegister::shown(server)));
    if (const QString advice = passwordAdvice(server); !advice.isEmpty())
        report->append(advice);
    return true;
}

// The register's schema on the server, unless it is there already.
bool createServerRegister(const QString &server, QStringList *report, QString *error)
{
    bool alreadyThere = false;
    if (!PostgresSchema::create(server, error, &alreadyThere))
        return false;
    report->append(alreadyThere
            ? QStringLiteral("O servidor já tem o cadastro, mantido: %1").arg(PostgresRegister::shown(server))
            : QStringLiteral("Cadastro criado no servidor: %1").arg(PostgresRegister::shown(server)));
    return true;
}

} // namespace

bool initDataFolder(const QString &dir, const QString &workerProgram, QStringList *report, QString *error,
    const QString &areaCode, const QString &databaseUrl)
{
    const bool created = !QFileInfo::exists(dir);
    if (!QDir().mkpath(dir) || (created && !DataFolder::makePrivate(dir))) {
        *error = QStringLiteral("Não foi possível criar a pasta de dados %1.").arg(dir);
        return false;
    }
    struct Item
    {
        QString name;
        bool (*create)(const QString &, QString *);
        QString accessFile; // brought over instead, when present
        AccessImport::Kind kind;
    };
    const Item items[] = {
        { DataFiles::Contacts, &SqliteRegister::create, DataFiles::AccessContacts, AccessImport::Kind::Contacts },
        { DataFiles::AreaCode, &SqliteRegister::createAreaCode, DataFiles::AccessAreaCode,
            AccessImport::Kind::AreaCode },
        { DataFiles::Site, &writeSiteFile, {}, {} },
    };
    const QString server = Register::serverFor(dir, databaseUrl);
    for (const Item &item : items) {
        if (!server.isEmpty() && item.name != DataFiles::Site)
            continue; // kept on the server
        const QString existing = DataFolder::findFile(dir, item.name);
        if (!existing.isEmpty()) {
            report->append(QStringLiteral("Já existe, mantido: %1").arg(existing));
            continue;
        }
        const QString path = QDir(dir).filePath(item.name);
        const QString access = item.accessFile.isEmpty() ? QString() : DataFolder::findFile(dir, item.accessFile);
        if (!access.isEmpty()) {
            qint64 rows = 0;
            if (!AccessImport::importFile(
                    workerProgram, item.kind, access, path, AccessImport::DefaultTimeoutMs, &rows, error))
                return false;
            DataFolder::makePrivate(path);
            const QString name = QFileInfo(access).fileName();
            report->append(item.kind == AccessImport::Kind::Contacts
                    ? QStringLiteral("%1 contatos importados de %2").arg(rows).arg(name)
                    : QStringLiteral("DDD local importado de %1").arg(name));
            continue;
        }
        if (!item.create(path, error))
            return false;
        DataFolder::makePrivate(path);
        report->append(QStringLiteral("Criado: %1").arg(path));
    }
    // The folder names the server only once the server holds a register.
    if (!server.isEmpty()
        && (!createServerRegister(server, report, error) || !writeRegisterSettings(dir, server, report, error)))
        return false;
    const auto areaCodes = Register::open(dir, databaseUrl, Register::Patience::Background, error);
    if (!areaCodes)
        return false;
    if (!areaCode.isEmpty()) {
        if (!areaCodes->storeAreaCode(areaCode, error))
            return false;
        report->append(QStringLiteral("DDD local: %1").arg(areaCode));
    } else if (QString stored; !areaCodes->loadAreaCode(&stored, nullptr) || !PhoneNumber::isAreaCode(stored)) {
        report->append(QStringLiteral("O DDD local ainda não foi informado: digite-o no campo DDD da janela do Zuna "
                                      "ou use zuna --init --ddd AA."));
    }
    return true;
}

bool copyRegister(const QString &dir, const QString &databaseUrl, QStringList *report, QString *error)
{
    const QString contacts = DataFolder::findFile(dir, DataFiles::Contacts);
    if (contacts.isEmpty()) {
        *error = QStringLiteral("A pasta de dados %1 não tem o cadastro %2 para copiar.").arg(dir, DataFiles::Contacts);
        return false;
    }
    SqliteRegister source(contacts, DataFolder::findFile(dir, DataFiles::AreaCode));
    QString detail;
    if (!source.upgrade(&detail)) {
        *error = detail;
        return false;
    }
    qint64 copied = 0;
    if (!createServerRegister(databaseUrl, report, error)
        || !PostgresSchema::copyFrom(source, databaseUrl, &copied, error))
        return false;
    report->append(
        QStringLiteral("%1 contatos, o histórico de chamadas e o DDD local copiados de %2 para o servidor %3.")
            .arg(copied)
            .arg(contacts, PostgresRegister::shown(databaseUrl)));
    report->append(QStringLiteral("Para esta mesa usar o cadastro do servidor, execute:\n"
                                  "zuna --init --data-dir \"%1\" --database \"%2\"")
                       .arg(dir, PostgresRegister::shown(databaseUrl)));
    if (const QString advice = passwordAdvice(databaseUrl); !advice.isEmpty())
        report->append(advice);
    return true;
}

} // namespace DataInit
