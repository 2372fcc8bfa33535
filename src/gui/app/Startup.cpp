#include "gui/app/Startup.h"

#include "core/app/AutoBackup.h"
#include "core/callerid/CallerIdSettings.h"
#include "core/contacts/PhoneNumber.h"
#include "core/contacts/Register.h"
#include "core/contacts/RegisterRestore.h"
#include "core/platform/DataFiles.h"
#include "core/platform/DataFolder.h"
#include "core/platform/DateFormat.h"
#include "core/platform/SingleInstance.h"
#include "gui/app/MainWindow.h"
#include "gui/app/StartupWindow.h"
#include "gui/callerid/CallerIdControl.h"
#include "gui/platform/MessageBoxes.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QThreadPool>

namespace {
const QString ErrorTitle = QStringLiteral("Erro");
}

Startup::Startup(QString dataDir, QString databaseUrl)
    : m_dataDir(std::move(dataDir))
    , m_databaseUrl(std::move(databaseUrl))
{
}

Startup::~Startup() = default;

QString Startup::missingFileHint() const
{
    QStringList needed = { DataFiles::Site };
    if (Register::serverFor(m_dataDir, m_databaseUrl).isEmpty())
        needed << DataFiles::Contacts << DataFiles::AreaCode; // kept on a server otherwise
    QStringList missing;
    for (const QString &name : std::as_const(needed)) {
        if (DataFolder::findFile(m_dataDir, name).isEmpty())
            missing << name;
    }
    if (missing.isEmpty())
        return {};
    QString hint = QStringLiteral("\n\nFaltam na pasta de dados: %1.").arg(missing.join(QStringLiteral(", ")));
    const std::pair<QString, QString> broughtFrom[]
        = { { DataFiles::Contacts, DataFiles::AccessContacts }, { DataFiles::AreaCode, DataFiles::AccessAreaCode } };
    for (const auto &[file, access] : broughtFrom) {
        const QString found = DataFolder::findFile(m_dataDir, access);
        if (missing.contains(file) && !found.isEmpty())
            hint += QStringLiteral(
                "\nA pasta tem %1, do sistema anterior: o zuna --init traz os dados dele para o Zuna.")
                        .arg(QFileInfo(found).fileName());
    }
    return hint
        + QStringLiteral("\nPara criar os arquivos que faltam, execute:\nzuna --init --data-dir \"%1\"").arg(m_dataDir);
}

Startup::Outcome Startup::start()
{
    if (!QFileInfo(m_dataDir).isDir()) {
        MessageBoxes::error(nullptr, ErrorTitle,
            QStringLiteral("A pasta de dados não existe: %1\n\nPara criar uma pasta de dados pronta, "
                           "execute:\nzuna --init --data-dir \"%1\"")
                .arg(m_dataDir));
        return Outcome::Failed;
    }

    m_veri = std::make_unique<StartupWindow>();
    m_instance = std::make_unique<SingleInstance>(m_dataDir);
    QString lockError;
    switch (m_instance->tryAcquire(&lockError)) {
    case SingleInstance::Result::Acquired: break;
    case SingleInstance::Result::HeldByAnother: m_veri->show(); return Outcome::SecondCopy;
    case SingleInstance::Result::Failed:
        MessageBoxes::error(
            nullptr, ErrorTitle, QStringLiteral("Não foi possível iniciar o Zuna.\n\n%1").arg(lockError));
        m_veri.reset();
        m_instance.reset();
        return Outcome::Failed;
    }

    m_veri->text2()->setText(DateFormatText);
    if (!DateFormat::instance().setShortDateFormat(m_veri->text2()->text())) {
        MessageBoxes::error(nullptr, ErrorTitle, QStringLiteral("Erro na opção de configuração de data."),
            MessageBoxes::Icon::Information);
        m_veri->show();
        return Outcome::DateFormatFailed;
    }

    QString error;
    if (!openWindow(&error)) {
        MessageBoxes::error(nullptr, ErrorTitle,
            QStringLiteral("Não foi possível iniciar o Zuna.\n\n%1%2").arg(error, missingFileHint()));
        m_veri.reset();
        m_instance.reset();
        return Outcome::Failed;
    }
    m_veri.reset();
    warnIfReadableByOthers();
    return Outcome::Running;
}

bool Startup::openWindow(QString *error)
{
    auto main = std::make_unique<MainWindow>(m_dataDir, m_databaseUrl);
    if (!main->load(error))
        return false;
    m_main = std::move(main);
    // A register made by an earlier version or another program may lack an
    // index: without one the list is sorted in full and a call's lookup reads
    // every row. Building it reads every row too, so it runs off the window's
    // thread; once built it stays. The number library is loaded meanwhile, so
    // that the first call does not wait for it.
    // Calls older than the desk keeps are removed then too.
    const int keptDays = std::max(1, CallerIdSettings::load(m_dataDir).callLogDays);
    QThreadPool::globalInstance()->start([dataDir = m_dataDir, databaseUrl = m_databaseUrl, keptDays] {
        PhoneNumber::read(QStringLiteral("1133334444"));
        if (const auto reg = Register::open(dataDir, databaseUrl, Register::Patience::Background, nullptr)) {
            reg->buildIndexes(nullptr);
            qint64 removed = 0;
            reg->pruneCalls(QDateTime::currentDateTime().addDays(-keptDays), &removed, nullptr);
        }
    });
    // A register on a server is copied by the server's own tools.
    if (Register::serverFor(m_dataDir, m_databaseUrl).isEmpty()) {
        m_backup = std::make_unique<AutoBackup>(m_dataDir);
        QObject::connect(m_backup.get(), &AutoBackup::statusChanged, m_main.get(), &MainWindow::showLineStatus);
        QObject::connect(
            qApp, &QCoreApplication::aboutToQuit, m_backup.get(), [backup = m_backup.get(), window = m_main.get()] {
                // The window goes at once; the copy of a large register may
                // take a while longer.
                window->hide();
                QString error;
                backup->copyAtExit(&error);
            });
        m_backup->start();
    }
    // Queued: the window that asks is closed only after it has returned.
    QObject::connect(
        m_main.get(), &MainWindow::restoreRequested, qApp,
        [this](const std::shared_ptr<RegisterRestore> &prepared) { restoreCopy(prepared); }, Qt::QueuedConnection);
    m_main->show();
    return true;
}

void Startup::restoreCopy(const std::shared_ptr<RegisterRestore> &prepared)
{
    // Everything that reads or writes the register ends first: the copies,
    // the work started beside the window, the window with its readers and
    // call log. This program keeps the data folder held throughout, so no
    // other copy of Zuna starts on it meanwhile.
    // The window opened again listens as this one did.
    const QString line = m_main->callerId()->lineOverride();
    const bool listening = m_main->callerId()->isActive();
    const bool quitOnClose = QGuiApplication::quitOnLastWindowClosed();
    QGuiApplication::setQuitOnLastWindowClosed(false);
    m_backup.reset();
    QThreadPool::globalInstance()->waitForDone();
    m_main.reset();
    QThreadPool::globalInstance()->waitForDone();
    prepared->heldByCaller();
    QString kept, error;
    const bool restored = prepared->replace(&kept, &error);
    QString openError;
    const bool opened = openWindow(&openError);
    QGuiApplication::setQuitOnLastWindowClosed(quitOnClose);
    if (!opened) {
        MessageBoxes::error(nullptr, ErrorTitle,
            QStringLiteral("%1\n\nNão foi possível abrir o cadastro de novo.\n\n%2%3")
                .arg(restored ? QStringLiteral("Cadastro restaurado.") : error, openError, missingFileHint()));
        QCoreApplication::exit(1);
        return;
    }
    m_main->callerId()->setLineOverride(line);
    if (listening)
        m_main->activateCallerId();
    if (!restored) {
        MessageBoxes::error(m_main.get(), MainWindow::AppTitle,
            QStringLiteral("A cópia não foi restaurada; o cadastro ficou como estava.\n\n%1").arg(error));
        return;
    }
    QString done
        = QStringLiteral("Cadastro restaurado de %1: %2 contatos.").arg(prepared->copyPath()).arg(prepared->contacts());
    if (!kept.isEmpty())
        done += QStringLiteral("\nO cadastro anterior foi guardado em %1.").arg(kept);
    if (!prepared->areaCodeTaken().isEmpty())
        done += QStringLiteral("\nDDD local tirado da cópia: %1.").arg(prepared->areaCodeTaken());
    MessageBoxes::notice(m_main.get(), MainWindow::AppTitle, done);
}

void Startup::warnIfReadableByOthers() const
{
    const QStringList exposed = DataFolder::readableByOthers({ m_dataDir,
        DataFolder::pathFor(m_dataDir, DataFiles::Contacts), DataFolder::pathFor(m_dataDir, DataFiles::AreaCode) });
    if (exposed.isEmpty())
        return;
    MessageBoxes::notice(m_main.get(), MainWindow::AppTitle,
        QStringLiteral("O cadastro de clientes pode ser lido por outros usuários deste computador:\n%1\n\n"
                       "Para que só você o leia, execute:\nchmod 700 \"%2\" && chmod 600 \"%2\"/*.sqlite")
            .arg(exposed.join(QLatin1Char('\n')), m_dataDir));
}

int Startup::exitStatus(Outcome outcome, int loopStatus)
{
    switch (outcome) {
    case Outcome::Running:
    case Outcome::SecondCopy: return loopStatus;
    case Outcome::DateFormatFailed:
    case Outcome::Failed: break;
    }
    return 1;
}
