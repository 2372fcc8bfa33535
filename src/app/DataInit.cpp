#include "app/DataInit.h"

#include "contacts/AccessImport.h"
#include "contacts/PhoneNumber.h"
#include "contacts/SqliteRegister.h"
#include "platform/DataFiles.h"
#include "platform/DataFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

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

} // namespace

bool initDataFolder(
    const QString &dir, const QString &workerProgram, QStringList *report, QString *error, const QString &areaCode)
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
        { DataFiles::AreaCode, &SqliteRegister::createAreaCode, DataFiles::AccessAreaCode, AccessImport::Kind::AreaCode },
        { DataFiles::Site, &writeSiteFile, {}, {} },
    };
    for (const Item &item : items) {
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
    SqliteRegister areaCodes(DataFolder::findFile(dir, DataFiles::Contacts),
                             DataFolder::findFile(dir, DataFiles::AreaCode));
    if (!areaCode.isEmpty()) {
        if (!areaCodes.storeAreaCode(areaCode, error))
            return false;
        report->append(QStringLiteral("DDD local: %1").arg(areaCode));
    } else if (QString stored; !areaCodes.loadAreaCode(&stored, nullptr) || !PhoneNumber::isAreaCode(stored)) {
        report->append(QStringLiteral("O DDD local ainda não foi informado: digite-o no campo DDD da janela do Zuna "
                                      "ou use zuna --init --ddd AA."));
    }
    return true;
}

} // namespace DataInit
