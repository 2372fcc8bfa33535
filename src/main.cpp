#include "core/app/CallLogExport.h"
#include "core/app/CommandLine.h"
#include "core/app/DataInit.h"
#include "core/app/RegisterCommands.h"
#include "core/app/Translations.h"
#include "core/app/WindowCommands.h"
#include "core/callerid/CallerIdSettings.h"
#include "core/callerid/NumberNormaliser.h"
#include "core/callerid/sources/AudioFileSource.h"
#include "core/callerid/sources/LocalSocketSource.h"
#include "core/contacts/AccessImport.h"
#include "core/contacts/Register.h"
#include "core/platform/DataFolder.h"
#include "gui/app/AppIcon.h"
#include "gui/app/FirstRunAssistant.h"
#include "gui/app/MainWindow.h"
#include "gui/app/Startup.h"
#include "gui/app/WindowMenu.h"
#include "gui/callerid/CallerIdControl.h"
#include "gui/callerid/CallerIdSetupDialog.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QTextStream>
#include <QTimer>

#include <sys/resource.h>
#include <sys/stat.h>

namespace {

int initDataFolder(const QString &dir, const QString &areaCode, const QString &databaseUrl)
{
    QStringList report;
    QString error;
    const bool ok = DataInit::initDataFolder(
        dir, QCoreApplication::applicationFilePath(), &report, &error, areaCode, databaseUrl);
    QTextStream out(stdout);
    for (const QString &line : report)
        out << line << '\n';
    if (!ok) {
        QTextStream(stderr) << "zuna: " << error << '\n';
        return 1;
    }
    out << "Pasta de dados pronta: " << dir << '\n';
    return 0;
}

int copyRegister(const QString &dir, const QString &databaseUrl)
{
    QStringList report;
    QString error;
    const bool ok = DataInit::copyRegister(dir, databaseUrl, &report, &error);
    QTextStream out(stdout);
    for (const QString &line : report)
        out << line << '\n';
    if (!ok) {
        QTextStream(stderr) << "zuna: " << error << "\nNada foi copiado.\n";
        return 1;
    }
    return 0;
}

int printCalls(const QString &dir, const QString &databaseUrl, const QDate &since, bool csv)
{
    QString error;
    const auto reg = Register::open(dir, databaseUrl, Register::Patience::Background, &error);
    QTextStream out(stdout);
    if (!reg || !CallLogExport::write(*reg, since, csv, out, &error)) {
        out.flush();
        QTextStream(stderr) << "zuna: " << error << '\n';
        return 1;
    }
    return 0;
}

int decodeRecording(const QString &dataDir, const QString &file)
{
    const CallerIdSettings settings = CallerIdSettings::load(dataDir);
    QTextStream out(stdout);
    int found = 0;
    QString error;
    QString damage;
    const bool ok = AudioFileSource::decodeFile(
        file, settings.a8Sensibility,
        [&](const CallerIdMessage &m) {
            ++found;
            const QString time = QStringLiteral("%1:%2.%3")
                                     .arg(m.endMs / 60000, 2, 10, QLatin1Char('0'))
                                     .arg(m.endMs / 1000 % 60, 2, 10, QLatin1Char('0'))
                                     .arg(m.endMs % 1000, 3, 10, QLatin1Char('0'));
            QString what = LineSource::textFor(m.kind);
            if (m.kind == CallerIdMessage::Kind::Number) {
                // Digits that read two ways are given both ways.
                QStringList keys;
                for (const NumberNormaliser::Reading &r : NumberNormaliser::readings(m.digits, settings.a2DDDLocal))
                    keys << r.key;
                what = keys.size() > 1 ? QStringLiteral("número incerto: %1").arg(keys.join(QStringLiteral(" ou ")))
                                       : QStringLiteral("número %1").arg(keys.value(0));
            }
            if (!m.name.isEmpty())
                what += QStringLiteral(", nome %1").arg(m.name);
            out << time << "  " << m.raw << "  " << what << '\n';
        },
        &error, nullptr, &damage);
    if (!ok) {
        QTextStream(stderr) << "zuna: " << error << '\n';
        return 1;
    }
    out << found << (found == 1 ? " mensagem encontrada\n" : " mensagens encontradas\n");
    if (!damage.isEmpty()) {
        out.flush();
        QTextStream(stderr) << "zuna: " << damage << '\n';
        return CommandLine::RecordingDamaged;
    }
    return 0;
}

int callRunningCopy(const QString &dataDir, const QString &number)
{
    QString error;
    if (!LocalSocketSource::sendNumber(LocalSocketSource::socketPath(dataDir), number, &error)) {
        QTextStream(stderr) << "zuna: " << error << '\n';
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    // The register is personal data: every file this program creates (the
    // register's journals, the lock, settings, a socket) is its user's alone,
    // whatever umask it was started with.
    umask(S_IRWXG | S_IRWXO);
    // Room for the sockets and files a long run opens; the local socket caps
    // its clients well below it.
    rlimit files {};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // The child that reads an Access file for --init (see AccessImport).
    if (arguments.size() > 1 && arguments.at(1) == QStringLiteral("--") + AccessImport::WorkerOption) {
        QCoreApplication app(argc, argv);
        return AccessImport::runWorker(arguments.mid(2));
    }
    CommandLine options;
    QString error;
    if (!CommandLine::parse(arguments, &options, &error)) {
        QTextStream(stderr) << "zuna: " << error << "\nUse zuna --help para ver as opções.\n";
        return CommandLine::UsageError;
    }
    if (options.help) {
        QTextStream(stdout) << CommandLine::helpText();
        return 0;
    }
    if (options.version) {
        QTextStream(stdout) << CommandLine::versionText();
        return 0;
    }

    QCoreApplication::setApplicationName(QStringLiteral("zuna"));
    if (options.init || !options.decodeFile.isEmpty() || !options.callNumber.isEmpty()
        || !options.copyRegisterTo.isEmpty() || options.listCalls || options.backup || !options.restoreFile.isEmpty()
        || !options.exportFile.isEmpty() || !options.importFile.isEmpty()) {
        QCoreApplication app(argc, argv);
        const QString dir = DataFolder::locate(options.dataDir);
        if (options.init)
            return initDataFolder(dir, options.areaCode, options.databaseUrl);
        if (!options.copyRegisterTo.isEmpty())
            return copyRegister(dir, options.copyRegisterTo);
        if (options.backup)
            return RegisterCommands::backup(dir, options.databaseUrl, options.backupFile);
        if (!options.restoreFile.isEmpty())
            return RegisterCommands::restore(dir, options.restoreFile);
        if (!options.exportFile.isEmpty())
            return RegisterCommands::exportContacts(dir, options.databaseUrl, options.exportFile);
        if (!options.importFile.isEmpty())
            return RegisterCommands::importContacts(
                dir, options.databaseUrl, options.importFile, options.yes, options.merge, options.columnMap);
        if (options.listCalls)
            return printCalls(dir, options.databaseUrl, options.callsSince, options.csv);
        if (!options.decodeFile.isEmpty())
            return decodeRecording(dir, options.decodeFile);
        return callRunningCopy(dir, options.callNumber);
    }

    // Desktops match the windows to zuna.desktop by this name (the Wayland app id).
    QGuiApplication::setDesktopFileName(QStringLiteral("zuna"));
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("zuna"), AppIcon::icon()));
    Translations::installPortuguese(app);
    if (options.callerIdSetup) {
        CallerIdSetupDialog dialog(DataFolder::locate(options.dataDir));
        return dialog.exec() == QDialog::Accepted ? 0 : 1;
    }
    const QString dataDir = DataFolder::locate(options.dataDir);
    // The desktop entry's actions: a window of the copy already running, or
    // of this one once it has started.
    if (!options.open.isEmpty() && WindowCommands::send(dataDir, options.open))
        return 0;
    // Started from the menu with no data folder yet: the first-run assistant
    // makes one. A folder named with --data-dir that is not there is more
    // likely a mistake, which Startup reports.
    if (options.dataDir.isEmpty() && !QFileInfo::exists(dataDir)) {
        FirstRunAssistant assistant(dataDir, QCoreApplication::applicationFilePath());
        if (assistant.exec() != QDialog::Accepted)
            return 1;
    }
    Startup startup(dataDir, options.databaseUrl);
    const Startup::Outcome outcome = startup.start();
    if (outcome == Startup::Outcome::Failed)
        return Startup::exitStatus(outcome, 0);
    if (outcome == Startup::Outcome::Running && !options.line.isEmpty())
        startup.mainWindow()->callerId()->setLineOverride(options.line);
    if (outcome == Startup::Outcome::Running && !options.open.isEmpty())
        QTimer::singleShot(0, startup.mainWindow(), [&] { WindowMenu::of(startup.mainWindow())->open(options.open); });
    return Startup::exitStatus(outcome, app.exec());
}
