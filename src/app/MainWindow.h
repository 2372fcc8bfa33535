#pragma once

#include "app/CallArrival.h"
#include "app/CallerLookup.h"
#include "app/MainWindowLayout.h"
#include "contacts/ContactRecord.h"
#include "contacts/Register.h"

#include <QHash>
#include <QList>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class CallLog;
class CallRecording;
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
    void lookUpCaller();
    // The form after a lookup of the number in Text1.
    void showLookedUp(bool looked, const std::optional<ContactRecord> &found, const QString &error);
    // A number from the caller-ID monitor: written into Text1 as a new call,
    // or kept waiting beside a form that holds the attendant's work.
    void showIncomingCall(const QString &number);
    // A call without a number (withheld, unavailable, unreadable): the
    // previous caller leaves the form, or the call waits as a number does.
    void showLineText(const QString &text);
    // The waiting call into the form, at the attendant's word (F5).
    void takeWaitingCall();
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
    ContactRecord fieldsRecord() const;
    QString fieldText(QObject *field, const QString &shown) const;
    // Puts a stored contact into the fields, in the window's order.
    void showContact(const ContactRecord &contact, bool withTelephone);
    // A write that failed: the attendant is told and everything typed stays.
    void reportFailure(const QString &what, const QString &error);

    bool listRefresh(QString *error);
    bool contactCount(QString *error);
    // An operation failed in a way the window cannot recover from: report it
    // and end the program.
    void fatal(const QString &error);
    // The register could not be read: said over the grid and retried, unless
    // it is gone for good with nothing typed on the screen.
    void registerTrouble(const QString &error);
    // The list and the count, read again after a write or a clear.
    void refreshAfterWrite();
    // What is on the form now is what the register holds.
    void rememberStored(const ContactRecord &record);
    // Some field holds text that is not what the window put there (loaded
    // from the register, or the number of a call).
    bool hasUnsavedTyping() const;
    // Esc: ends Zuna at once, or, with changes not saved, when the attendant
    // says so.
    void endUnlessUnsaved();
    // Another desk changed the register: the list and count are read again
    // once the burst of changes is over.

    void startCallLog();
    // The call that came in now, with the contact it was found as.
    void logCall(const PhoneNumber &number, const QString &laidOut, const std::optional<ContactRecord> &found);
    void bringToFront();

    // --- a call's arrival
    CallArrival::Form formState() const;
    void holdCall(const CallArrival::Call &call);
    void putCallInForm(const CallArrival::Call &call, bool logIt);
    // Brings the waiting call in once the form is free.
    void offerWaitingCall();
    // The caller leaves the form: fields, code label and Text1 emptied.
    void emptyForm();
    void showWaitingCall(const QString &text);
    // A call brings the window up, restored and raised, without taking the
    // keyboard from the program the attendant is typing in.
    void bringUpForCall();

    QString m_dataDir;
    QString m_databaseUrl;
    CallLog *m_callLog = nullptr;
    CallsWindow *m_callsWindow = nullptr;
    CallNotifier *m_notifier = nullptr;
    CallRecording *m_recording = nullptr;
    QString m_receivedNumber; // the call's number as the line handed it over
    std::unique_ptr<Register> m_register;
    std::unique_ptr<CallerLookup> m_lookup; // gone before the register
    bool m_callFromLine = false; // Text1 is being set by a call from the line
    bool m_logCall = true; // the call Text1 is being set by is still to be logged
    CallArrival m_arrival;
    QLineEdit *m_highlighted = nullptr;
    std::function<void(int)> m_terminate;

    MainWindowControls m_ui;
    RegisterHealth *m_health = nullptr;
    ContactListModel *m_model = nullptr; // Data1
    QList<QLineEdit *> m_enterFields; // Enter as Tab and the focus highlight
    // The stored contact the fields show: each field's value as read, and
    // the text the field shows for it.
    struct Loaded
    {
        QString stored;
        QString shown;
    };
    QHash<QObject *, Loaded> m_loaded;
    // The stored contact as it was read, for telling whether another desk
    // changed it before the save.
    std::optional<ContactRecord> m_loadedRecord;
};
