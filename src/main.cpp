#include "app/CommandLine.h"
#include "app/DataInit.h"
#include "app/Startup.h"
#include "contacts/AccessImport.h"
#include "platform/DataFolder.h"

#include <QApplication>
#include <QTextStream>

namespace {

int initDataFolder(const QString &dir)
{
    QStringList report;
    QString error;
    const bool ok = DataInit::initDataFolder(dir, QCoreApplication::applicationFilePath(), &report, &error);
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

} // namespace

int main(int argc, char *argv[])
{
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
    if (options.init) {
        QCoreApplication app(argc, argv);
        return initDataFolder(DataFolder::locate(options.dataDir));
    }

    QApplication app(argc, argv);
    Startup startup(DataFolder::locate(options.dataDir));
    const Startup::Outcome outcome = startup.start();
    if (outcome == Startup::Outcome::Failed)
        return Startup::exitStatus(outcome, 0);
    return Startup::exitStatus(outcome, app.exec());
}
