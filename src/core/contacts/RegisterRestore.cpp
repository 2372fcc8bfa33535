#include "core/contacts/RegisterRestore.h"

#include "core/contacts/BackupFolder.h"
#include "core/contacts/PhoneNumber.h"
#include "core/contacts/Register.h"
#include "core/contacts/RegisterBackup.h"
#include "core/contacts/SqlConnection.h"
#include "core/contacts/SqliteRegister.h"
#include "core/platform/DataFiles.h"
#include "core/platform/DataFolder.h"
#include "core/platform/DurableFile.h"
#include "core/platform/GzipFile.h"
#include "core/platform/SingleInstance.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

namespace {

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

} // namespace

RegisterRestore::RegisterRestore(QString dataDir, QString copyPath)
    : m_dataDir(std::move(dataDir))
    , m_copyPath(std::move(copyPath))
{
}

RegisterRestore::~RegisterRestore()
{
    QFile::remove(preparedPath());
    QFile::remove(preparedPath() + QStringLiteral("-journal"));
}

QString RegisterRestore::preparedPath() const
{
    return QDir(m_dataDir).filePath(QStringLiteral(".%1.restaurando").arg(DataFiles::Contacts));
}

bool RegisterRestore::lock(QString *error)
{
    if (!Register::serverFor(m_dataDir, {}).isEmpty())
        return fail(error,
            QStringLiteral("O cadastro desta pasta de dados fica num servidor PostgreSQL (registro.ini): a cópia "
                           "é restaurada numa pasta de dados de uma mesa só, e levada ao servidor com "
                           "zuna --copy-register."));
    m_lock = std::make_unique<SingleInstance>(m_dataDir);
    QString why;
    switch (m_lock->tryAcquire(&why)) {
    case SingleInstance::Result::Acquired: return true;
    case SingleInstance::Result::HeldByAnother:
        m_lock.reset();
        return fail(error,
            QStringLiteral("O Zuna está aberto nesta pasta de dados (%1): feche-o antes de restaurar uma cópia.")
                .arg(m_dataDir));
    case SingleInstance::Result::Failed: break;
    }
    m_lock.reset();
    return fail(error, why);
}

bool RegisterRestore::prepare(qint64 *contacts, QString *error, const Progress &progress)
{
    const QString what = QStringLiteral("A cópia %1 não pode ser restaurada.").arg(m_copyPath);
    if (!QFileInfo(m_copyPath).isFile())
        return fail(error, QStringLiteral("%1\nO arquivo não existe.").arg(what));
    const QString target = preparedPath();
    QFile::remove(target);
    QFile::remove(target + QStringLiteral("-journal"));
    QString detail;
    if (GzipFile::isGzip(m_copyPath)) {
        const qint64 size = QFileInfo(m_copyPath).size();
        if (!GzipFile::decompress(m_copyPath, target, &detail, [&](qint64 done) {
                if (progress)
                    progress(done, size);
            }))
            return fail(error, QStringLiteral("%1\nDetalhe: %2").arg(what, detail));
        if (!RegisterBackup::check(target, contacts, &detail))
            return fail(error, QStringLiteral("%1\n%2").arg(what, detail));
    } else if (!RegisterBackup::copyFile(m_copyPath, target, &detail, progress)
        || !RegisterBackup::check(target, contacts, &detail)) {
        return fail(error, QStringLiteral("%1\n%2").arg(what, detail));
    }
    DataFolder::makePrivate(target);
    // The register keeps its journal beside it, as every register Zuna
    // makes; a copy taken in another mode is brought back to it.
    {
        SqlConnection conn(target);
        QSqlQuery query(conn.database());
        if (!conn.isOpen() || !query.exec(QStringLiteral("PRAGMA journal_mode = DELETE")))
            return fail(error, QStringLiteral("%1\nDetalhe: %2").arg(what, query.lastError().text()));
    }
    // An old register's copy gets what this version reads it through, as the
    // old register itself would; every column must be there.
    SqliteRegister copy(target);
    std::optional<ContactRecord> none;
    if (!copy.upgrade(&detail) || !copy.findByCode(0, &none, &detail))
        return fail(error, QStringLiteral("%1\n%2").arg(what, detail));
    {
        SqlConnection conn(target);
        QSqlQuery query(conn.database());
        if (conn.isOpen() && query.exec(QStringLiteral("SELECT DDD FROM DDD_LOCAL")) && query.next())
            m_areaCode = query.value(0).toString().trimmed();
    }
    m_prepared = true;
    m_contacts = *contacts;
    return true;
}

bool RegisterRestore::replace(QString *kept, QString *error)
{
    if (!m_prepared || (!m_lock && !m_heldByCaller))
        return fail(error, QStringLiteral("A cópia não foi preparada."));
    kept->clear();
    const QString current = DataFolder::findFile(m_dataDir, DataFiles::Contacts);
    const QString registerPath = current.isEmpty() ? QDir(m_dataDir).filePath(DataFiles::Contacts) : current;
    if (!current.isEmpty()
        && !BackupFolder::makeCopy(
            m_dataDir, BackupFolder::Kind::BeforeRestore, QDateTime::currentDateTime(), kept, error))
        return false;
    // Reading the register for its copy rolled back any journal a program
    // left behind; one still there belongs to a program writing right now.
    if (QFileInfo::exists(registerPath + QStringLiteral("-journal")))
        return fail(error,
            QStringLiteral("O cadastro está sendo gravado por outro programa (%1-journal); tente de novo quando "
                           "ele terminar.")
                .arg(registerPath));
    QString detail;
    if (!DurableFile::replace(preparedPath(), registerPath, &detail))
        return fail(error,
            QStringLiteral("Não foi possível pôr a cópia no lugar do cadastro; o cadastro ficou como estava.\n"
                           "Detalhe: %1")
                .arg(detail));
    m_prepared = false;
    takeAreaCode(registerPath);
    return true;
}

void RegisterRestore::takeAreaCode(const QString &registerPath)
{
    if (!PhoneNumber::isAreaCode(m_areaCode))
        return;
    const QString found = DataFolder::findFile(m_dataDir, DataFiles::AreaCode);
    const QString file = found.isEmpty() ? DataFolder::pathFor(m_dataDir, DataFiles::AreaCode) : found;
    if (found.isEmpty()) {
        if (!SqliteRegister::createAreaCode(file, nullptr))
            return;
        DataFolder::makePrivate(file);
    }
    SqliteRegister desk(registerPath, file);
    QString current;
    if (desk.loadAreaCode(&current, nullptr) && PhoneNumber::isAreaCode(current))
        return; // the desk's own stays
    if (desk.storeAreaCode(m_areaCode, nullptr))
        m_areaCodeTaken = m_areaCode;
}
