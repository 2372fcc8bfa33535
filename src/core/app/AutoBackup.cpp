#include "core/app/AutoBackup.h"

#include "core/contacts/BackupFolder.h"

#include <QLoggingCategory>

namespace {
Q_LOGGING_CATEGORY(backupLog, "zuna.backup")
}

AutoBackup::AutoBackup(QString dataDir, QObject *parent)
    : QObject(parent)
    , m_dataDir(std::move(dataDir))
    , m_clock([] { return QDateTime::currentDateTime(); })
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &AutoBackup::check);
}

AutoBackup::~AutoBackup()
{
    if (m_worker) {
        m_worker->wait();
        delete m_worker;
    }
}

void AutoBackup::start(int firstCheckMs)
{
    m_timer.start(firstCheckMs);
}

void AutoBackup::check()
{
    if (m_worker)
        return;
    const QDateTime now = m_clock();
    if (!m_failing && !BackupFolder::dailyCopyDue(m_dataDir, now)) {
        m_timer.start(CheckMs);
        return;
    }
    auto result = std::make_shared<std::tuple<bool, QString, QString>>();
    m_worker = QThread::create([dataDir = m_dataDir, now, result] {
        auto &[ok, path, error] = *result;
        ok = BackupFolder::makeCopy(dataDir, BackupFolder::Kind::Automatic, now, &path, &error);
    });
    connect(m_worker, &QThread::finished, this, [this, thread = m_worker, result] {
        if (m_worker != thread)
            return; // waited for and removed at exit
        m_worker->deleteLater();
        m_worker = nullptr;
        const auto &[ok, path, error] = *result;
        finished(ok, path, error);
    });
    m_worker->start(QThread::LowPriority);
}

void AutoBackup::finished(bool ok, const QString &path, const QString &error)
{
    if (ok) {
        qCInfo(backupLog).noquote() << "cópia do cadastro feita:" << path;
        if (m_failing)
            emit statusChanged(QStringLiteral("Cópia de segurança do cadastro feita."), true);
        m_failing = false;
        m_timer.start(CheckMs);
        emit copyMade(path);
        return;
    }
    qCWarning(backupLog).noquote() << error;
    m_failing = true;
    emit statusChanged(QStringLiteral("A cópia de segurança do cadastro falhou; nova tentativa em %1 min. %2")
                           .arg(m_retryMs / 60000)
                           .arg(error),
        false);
    m_timer.start(m_retryMs);
    emit copyFailed(error);
}

bool AutoBackup::copyAtExit(QString *error)
{
    m_timer.stop();
    if (m_worker) {
        m_worker->wait();
        delete m_worker;
        m_worker = nullptr;
    }
    if (!m_failing && !BackupFolder::changedSinceNewest(m_dataDir))
        return true;
    QString path;
    if (BackupFolder::makeCopy(m_dataDir, BackupFolder::Kind::Automatic, m_clock(), &path, error))
        return true;
    qCWarning(backupLog).noquote() << *error;
    return false;
}
