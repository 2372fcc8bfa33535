#include "core/app/FirstRunSetup.h"

#include "core/app/DataInit.h"
#include "core/app/ServerCheck.h"
#include "core/callerid/CallerIdSettings.h"
#include "core/contacts/PhoneNumber.h"
#include "core/platform/DataFiles.h"
#include "core/platform/DataFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>

namespace {

// The folders mkpath would create for `dir`, deepest first.
QStringList missingFolders(const QString &dir)
{
    QStringList missing;
    for (QString path = QDir::cleanPath(QDir(dir).absolutePath()); !QFileInfo::exists(path);
         path = QFileInfo(path).path())
        missing << path;
    return missing;
}

bool writeSiteName(const QString &path, const QString &name, QString *error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(name.toUtf8() + '\n');
        if (file.commit())
            return true;
    }
    *error = QStringLiteral("Não foi possível gravar o nome do local.\nArquivo: %1\nDetalhe: %2")
                 .arg(path, file.errorString());
    return false;
}

} // namespace

QString FirstRunSetup::accessAreaCodeFile() const
{
    if (accessFile.isEmpty())
        return {};
    return DataFolder::findFile(QFileInfo(accessFile).path(), DataFiles::AccessAreaCode);
}

bool FirstRunSetup::create(const QString &dataDir, const QString &workerProgram, QStringList *report, QString *error,
    const std::atomic<bool> *cancelled) const
{
    if (QFileInfo::exists(dataDir)) {
        *error = QStringLiteral("A pasta de dados já existe: %1").arg(dataDir);
        return false;
    }
    const QString parent = QFileInfo(QDir::cleanPath(dataDir)).path();
    const QStringList madeParents = missingFolders(parent);
    // Nothing of a failed attempt stays: the folders made for it go too.
    const auto removeParents = [&] {
        for (const QString &folder : madeParents)
            QDir().rmdir(folder);
    };
    if (!QDir().mkpath(parent)) {
        *error = QStringLiteral("Não foi possível criar a pasta %1.").arg(parent);
        removeParents();
        return false;
    }
    bool done = false;
    {
        QTemporaryDir staging(QDir(parent).filePath(QStringLiteral(".zuna-nova-XXXXXX")));
        if (!staging.isValid()) {
            *error = QStringLiteral("Não foi possível criar uma pasta em %1.\nDetalhe: %2")
                         .arg(parent, staging.errorString());
        } else {
            QString addedPasswordLine;
            done = fill(staging.path(), workerProgram, report, error, &addedPasswordLine);
            // The last moment a cancel can be honoured: the folder is not in its place yet.
            if (done && cancelled && *cancelled) {
                *error = QStringLiteral("Cancelado.");
                done = false;
            }
            report->replaceInStrings(staging.path(), dataDir); // the files where they end up
            if (done && !QDir().rename(staging.path(), dataDir)) {
                *error = QStringLiteral("Não foi possível criar a pasta de dados %1.").arg(dataDir);
                done = false;
            }
            if (!done && !addedPasswordLine.isEmpty())
                ServerCheck::undoLine(addedPasswordLine);
            staging.setAutoRemove(!done);
        }
    }
    if (!done)
        removeParents();
    return done;
}

bool FirstRunSetup::fill(const QString &dir, const QString &workerProgram, QStringList *report, QString *error,
    QString *addedPasswordLine) const
{
    QString newAreaCode = areaCode;
    if (registerChoice == RegisterChoice::Server) {
        const ServerCheck check = ServerCheck::run(server, password);
        if (!check.ok) {
            *error = check.error;
            return false;
        }
        if (!password.isEmpty()) {
            const QString line = check.passwordLine(password);
            bool added = false;
            if (!ServerCheck::addLine(line, &added, error))
                return false;
            if (added)
                *addedPasswordLine = line;
        }
        // The desks that share the register share its area code.
        if (PhoneNumber::isAreaCode(check.areaCode))
            newAreaCode = check.areaCode;
    }
    // The Access files are read where they are: DataInit finds them in the
    // folder by their names, so links with those names stand in for them
    // while it reads, whatever the chosen file is called.
    QStringList links;
    if (registerChoice == RegisterChoice::Access) {
        const std::pair<QString, QString> sources[]
            = { { accessFile, DataFiles::AccessContacts }, { accessAreaCodeFile(), DataFiles::AccessAreaCode } };
        for (const auto &[source, name] : sources) {
            if (source.isEmpty())
                continue;
            const QString link = QDir(dir).filePath(name);
            if (!QFile::link(QFileInfo(source).absoluteFilePath(), link)) {
                *error = QStringLiteral("Não foi possível ler %1.").arg(source);
                return false;
            }
            links << link;
        }
    }
    const QString serverUrl = registerChoice == RegisterChoice::Server ? server : QString();
    const bool ok = DataInit::initDataFolder(dir, workerProgram, report, error, newAreaCode, serverUrl);
    for (const QString &link : std::as_const(links))
        QFile::remove(link);
    if (!ok)
        return false;
    if (!siteName.trimmed().isEmpty()
        && !writeSiteName(DataFolder::pathFor(dir, DataFiles::Site), siteName.trimmed(), error))
        return false;
    const QString target = CallerIdSettings::filePath(dir);
    if (!callerIdSettingsFile.isEmpty() && !QFile::copy(callerIdSettingsFile, target)) {
        *error = QStringLiteral("Não foi possível gravar %1.").arg(target);
        return false;
    }
    // The line's settings hold the register's area code, as every change of it leaves them.
    CallerIdSettings line = CallerIdSettings::load(dir);
    line.a2DDDLocal = newAreaCode;
    if (!line.save(dir) || !DataFolder::makePrivate(target)) {
        *error = QStringLiteral("Não foi possível gravar %1.").arg(target);
        return false;
    }
    return true;
}
