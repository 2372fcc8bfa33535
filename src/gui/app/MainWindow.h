#pragma once

#include "core/app/RegisterErrand.h"
#include "core/contacts/ContactRecord.h"
#include "core/contacts/Register.h"
#include "gui/app/ContactForm.h"
#include "gui/app/MainWindowLayout.h"

#include <QHash>
#include <QList>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class CallLog;
class CallReception;
class ContactCommands;
class RegisterHealth;
class RegisterRestore;
class CallNotifier;
class CallerIdControl;
class CallsWindow;
class ContactListModel;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTableView;

// The attendant's window ZUNA: caller-ID area, area code, contact count, help,
// the contact editor on two tabs and the contact grid. Handlers keep the
// names of the window's design (load, activateCallerId, ...).
class MainWindow : public QWidget
{
    Q_OBJECT

public:
    static inline const QString TitlePrefix = QStringLiteral("Atendimento ZUNA - ");
    // The title of the program's notices and questions.
    static inline const QString AppTitle = QStringLiteral("Zuna");

    // `databaseUrl`, when given, names the register's server for this run
    // instead of the data folder's registro.ini.
    explicit MainWindow(const QString &dataDir, const QString &databaseUrl = {}, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Opens the register and fills the window: title, grid, count, area code.
    // False, with a Portuguese report naming the file, when a step fails.
    bool load(QString *error);

    // How the program ends on Esc or after a failure is reported; the default
    // quits the event loop with the given status.
    void setTerminator(std::function<void(int status)> terminator) { m_terminate = std::move(terminator); }

    ContactListModel *contactList() const { return m_model; }
    CallerIdControl *callerId() const { return m_ui.callerId; }
    QString dataDir() const { return m_dataDir; }
    // The open register (after load()), for the work started beside the window.
    Register *contactRegister() const { return m_register.get(); }
    CallLog *callLog() const { return m_callLog; }
    CallsWindow *callsWindow() const { return m_callsWindow; }
    CallNotifier *notifier() const { return m_notifier; }

signals:
    // The attendant chose to put this checked copy in place of the register
    // (About): the window must be closed for it, and opened again.
    void restoreRequested(std::shared_ptr<RegisterRestore> prepared);

public slots:
    void activateCallerId();
    void openCallerIdSetup();
    void clearForm();
    void saveContact();
    void deactivateCallerId();
    void deleteContact();
    void openHelp();
    void searchByName();
    void showLineStatus(const QString &status, bool healthy);
    void checkTelephone();
    void storeAreaCode();
    // Loads the contact of the grid's current row.
    void pickCurrentRow();
    void markCurrentRow();
    // Loads the contact whose code the code label holds.
    void loadPickedContact();
    // The calls window, in front.
    void openCalls();
    // F6: contacts brought in from a CSV or vCard file.
    void openContactImport();
    // A call picked in the calls window: its caller's contact, or for an
    // unknown caller an empty form with the number in the telephone field.
    void loadCall(const CallRecord &call);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    // True when the key was a command of the window, which takes it.
    bool handleFunctionKey(int key, Qt::KeyboardModifiers shift);

private:
    void buildWindow();

    void connectHandlers();
    void fieldGotFocus(QLineEdit *field, Qt::FocusReason reason);
    // The one field drawn light yellow: the one the attendant is in.
    void highlight(QLineEdit *field);
    void fieldLostFocus(QLineEdit *field);
    void showFirstRow();
    // A write that failed: the attendant is told and everything typed stays.
    void reportFailure(const QString &what, const QString &error);

    bool contactCount(QString *error);
    // An operation failed in a way the window cannot recover from: report it
    // and end the program.
    void fatal(const QString &error);
    // The list and the count, read again after a write or a clear.
    void refreshAfterWrite();
    // Esc: ends Zuna at once, or, with changes not saved, when the attendant
    // says so.
    void endUnlessUnsaved();

    void startCallLog();
    void bringToFront();

    QString m_dataDir;
    QString m_databaseUrl;
    CallLog *m_callLog = nullptr;
    CallsWindow *m_callsWindow = nullptr;
    CallNotifier *m_notifier = nullptr;
    std::unique_ptr<Register> m_register;
    std::unique_ptr<RegisterErrand> m_errand; // the window's saves on a server across town
    QLineEdit *m_highlighted = nullptr;
    std::function<void(int)> m_terminate;

    MainWindowControls m_ui;
    RegisterHealth *m_health = nullptr;
    ContactListModel *m_model = nullptr; // Data1
    QList<QLineEdit *> m_enterFields; // Enter as Tab and the focus highlight
    ContactForm m_form; // what the fields show, and what of it was typed
    CallReception *m_reception = nullptr; // a call's arrival into the form
    ContactCommands *m_commands = nullptr; // save, delete and pick
};
