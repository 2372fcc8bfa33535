#pragma once

#include <QString>

#include <memory>

class AutoBackup;
class MainWindow;
class RegisterRestore;
class SingleInstance;
class StartupWindow;

// From program start to the window the attendant works in: one copy per data
// folder, the date format, then the main window filled from the data folder.
class Startup
{
public:
    enum class Outcome {
        Running, // the main window is shown
        SecondCopy, // another copy holds the folder: only VERI is shown
        DateFormatFailed, // the date format was refused: VERI is shown
        Failed, // a start-up step failed and was reported; nothing shown
    };

    // `databaseUrl`: the register's server for this run, if given.
    explicit Startup(QString dataDir, QString databaseUrl = {});
    ~Startup();

    Outcome start();

    MainWindow *mainWindow() const { return m_main.get(); }
    StartupWindow *startupWindow() const { return m_veri.get(); }

    // Exit status once the event loop has ended, for this outcome.
    static int exitStatus(Outcome outcome, int loopStatus);

    static inline const QString DateFormatText = QStringLiteral("dd/MM/yyyy");

private:
    QString missingFileHint() const;
    // The main window filled from the data folder, with its companions.
    bool openWindow(QString *error);
    // Closes the window, puts the prepared copy in place of the register
    // (or leaves the register as it was) and opens the window again.
    void restoreCopy(const std::shared_ptr<RegisterRestore> &prepared);
    // Personal data that other users of the machine can read is reported,
    // with the command that makes it private.
    void warnIfReadableByOthers() const;

    QString m_dataDir;
    QString m_databaseUrl;
    std::unique_ptr<SingleInstance> m_instance;
    std::unique_ptr<StartupWindow> m_veri;
    std::unique_ptr<MainWindow> m_main;
    std::unique_ptr<AutoBackup> m_backup; // a desk alone: copies of its register
};
