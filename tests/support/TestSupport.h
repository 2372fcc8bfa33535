#pragma once

#include "core/contacts/ContactRecord.h"
#include "core/contacts/NamePattern.h"
#include "gui/platform/MessageBoxes.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QWidget>

#include <functional>
#include <memory>
#include <utility>

class MainWindow;
class Register;
class Startup;

// Answers message boxes without showing them and remembers each one.
class RecordingMessageBoxes : public MessageBoxes
{
public:
    struct Shown
    {
        Icon icon;
        QString title;
        QString text;
        Buttons buttons;
    };

    RecordingMessageBoxes() { MessageBoxes::setInstance(this); }
    ~RecordingMessageBoxes() override { MessageBoxes::setInstance(nullptr); }

    Answer show(QWidget *, Icon icon, const QString &title, const QString &text, Buttons buttons) override
    {
        shown.append({ icon, title, text, buttons });
        // What happens while a real box waits for its answer.
        if (auto happen = std::exchange(whileOpen, nullptr))
            happen();
        if (buttons == Buttons::Ok)
            return Answer::Ok;
        return answers.isEmpty() ? Answer::No : answers.takeFirst();
    }

    QList<Shown> shown;
    QList<Answer> answers; // for the questions, in order
    // Runs while the next box is open, as events do under a modal box.
    std::function<void()> whileOpen;
};

// A data folder made by `zuna --init` in a temporary folder.
class DataFolderFixture
{
public:
    DataFolderFixture();

    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const;
    void writeSite(const QByteArray &bytes) const;
    qint64 addContact(const ContactRecord &record) const;
    ContactRecord contact(const QString &name, const QString &phone = {}) const;
    // Runs statements on a file of the folder, as another program would.
    void exec(const QString &fileName, const QString &sql) const;
    // Every file of the folder with its bytes, to prove nothing changed.
    QMap<QString, QByteArray> snapshot() const;

private:
    QTemporaryDir m_dir;
};

// A register on one backend, for suites that run each case on both:
// "sqlite", a data folder made by `zuna --init --ddd 11`; "postgresql", a new
// database on the test program's own server, made by `zuna --init
// --database` (area code 11 stored in it).
class RegisterFixture
{
public:
    // Adds the global "backend" column with a row per backend.
    static void addBackends();
    // False, with the reason, when the backend cannot be had on this machine.
    static bool available(const QString &backend, QString *why);

    explicit RegisterFixture(const QString &backend);
    ~RegisterFixture();

    const QString &backend() const { return m_backend; }
    bool isPostgres() const { return m_backend == QLatin1String("postgresql"); }
    Register &reg() const { return *m_register; }
    // A second desk on the same register.
    std::unique_ptr<Register> openAnother() const;
    // The data folder: the register's files, or registro.ini naming the server.
    DataFolderFixture &data() const { return *m_data; }
    // The server's URI; empty on SQLite.
    const QString &url() const { return m_url; }
    qint64 add(const ContactRecord &record) const;
    // Runs SQL on the register as another program would.
    void exec(const QString &sql) const;

    // Every name the pattern lists, read a page of `pageSize` at a time.
    static QStringList listedNames(const Register &reg, int pageSize, const NamePattern &pattern = {});
    // The register's count of its contacts.
    static qint64 counted(Register &reg);

private:
    QString m_backend;
    QString m_url;
    std::unique_ptr<DataFolderFixture> m_data;
    std::unique_ptr<Register> m_register;
};

// In a test function of a suite that called RegisterFixture::addBackends():
// a register on this row's backend, or the test skipped with the reason.
#define REGISTER_FIXTURE(name)                                                                                         \
    QFETCH_GLOBAL(QString, backend);                                                                                   \
    if (QString why_; !RegisterFixture::available(backend, &why_))                                                     \
        QSKIP(qPrintable(why_));                                                                                       \
    RegisterFixture name(backend)

// The real main window, started on a data folder of its own and shown
// offscreen. Esc and fatal errors are recorded instead of ending the test.
class WindowFixture
{
public:
    WindowFixture();
    ~WindowFixture();

    DataFolderFixture &data() { return *m_data; }
    MainWindow *window() const { return m_window; }
    // The register's server for this run, instead of the folder's own file.
    void setDatabaseUrl(const QString &url) { m_databaseUrl = url; }
    // Starts the window (after the test has put its contacts in the folder).
    bool start();
    // The window's control with this design name.
    template <class W = QWidget> W *control(const char *name) const { return qobject_cast<W *>(findControl(name)); }
    // The design name of the control that has the focus.
    static QString focusedName();
    // The caller-ID monitor on, with no line source: numbers come from the
    // test as a line source hands them over. False when it stayed off.
    bool switchMonitorOn();
    // Hands a number to the running window as a script does, through the
    // program at `zunaBinary` (zuna --call); its exit status, -1 when it hung.
    int callWithZunaCall(const QString &zunaBinary, const QString &number) const;

    QList<int> endedWith;

private:
    QWidget *findControl(const char *name) const;

    std::unique_ptr<DataFolderFixture> m_data;
    std::unique_ptr<Startup> m_startup;
    MainWindow *m_window = nullptr;
    QString m_databaseUrl;
};

// What a program run to its end printed, and its exit status (-1: it
// crashed or did not end within two minutes).
struct ProgramRun
{
    int status = -1;
    QString out, err;
};
// Runs `program` with `input` on its standard input, then its end, and
// waits for it to end.
ProgramRun runProgram(const QString &program, const QStringList &arguments, const QByteArray &input = {});

// A port on 127.0.0.1 that is free for both UDP and TCP right now, for a
// server the test starts.
quint16 freeLocalPort();
