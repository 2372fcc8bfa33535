#include "app/MainWindow.h"

#include "app/AppIcon.h"
#include "app/CallListModel.h"
#include "app/CallLog.h"
#include "app/CallNotifier.h"
#include "app/CallRecording.h"
#include "app/CallsWindow.h"
#include "app/ContactImportDialog.h"
#include "app/ContactSaving.h"
#include "callerid/LineSource.h"

#include "app/HelpDialog.h"
#include "app/KeyPreview.h"
#include "app/MainWindowLayout.h"
#include "app/RegisterHealth.h"
#include "app/SiteFile.h"
#include "app/WindowMenu.h"
#include "app/enterrrr.h"
#include "callerid/CallerIdControl.h"
#include "callerid/CallerIdSetupDialog.h"
#include "callerid/OutsideText.h"
#include "contacts/ContactListModel.h"
#include "contacts/PhoneNumber.h"
#include "platform/DataFiles.h"
#include "platform/DataFolder.h"
#include "platform/MessageBoxes.h"
#include "platform/ProgramLauncher.h"
#include "platform/WindowAttention.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>

namespace {

// What the attendant reads, exactly as the window has always said it.
const QString NameMissing = QStringLiteral("Digite o nome antes.");
const QString PhoneMissing = QStringLiteral("Digite o telefone antes.");
const QString SavedNotice = QStringLiteral("Operação realizada com sucesso.");
const QString PickFirst = QStringLiteral("Primeiro clique sobre o nome desejado na tabela de dados.");
const QString ConfirmDelete = QStringLiteral("Confirma exclusão?");
const QString BadPhone = QStringLiteral("Atenção este formato de telefone não está correto.");
const QString AreaCodeMissing = QStringLiteral("DDD local não informado");
const QString TakeWaitingCall = QStringLiteral("Descartar o que foi digitado e mostrar a chamada em espera?");
const QString NotSaved = QStringLiteral("Não foi possível gravar o contato; o que foi digitado continua na tela.");

QString digitsOf(const QString &text)
{
    QString digits;
    for (const QChar c : text) {
        if (c >= u'0' && c <= u'9')
            digits.append(c);
    }
    return digits;
}

bool isGridKey(int key)
{
    switch (key) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space: return true;
    default: return false;
    }
}

} // namespace

MainWindow::MainWindow(const QString &dataDir, const QString &databaseUrl, QWidget *parent)
    : QWidget(parent)
    , m_dataDir(dataDir)
    , m_databaseUrl(databaseUrl)
    , m_terminate([](int status) { QCoreApplication::exit(status); })
{
    buildWindow();
    // A call that came while a question was open comes in once it is
    // answered and its answer has acted.
    MessageBoxes::setAfterClose([this] { QTimer::singleShot(0, this, &MainWindow::offerWaitingCall); });
    new KeyPreview(
        this, [this](int key, Qt::KeyboardModifiers modifiers) { return handleFunctionKey(key, modifiers); });
}

MainWindow::~MainWindow()
{
    MessageBoxes::setAfterClose(nullptr);
    // The grid's readers are the register's: they go first.
    m_model->setRegister(nullptr);
}

void MainWindow::buildWindow()
{
    m_model = new ContactListModel(this);
    m_model->setObjectName(QStringLiteral("Data1"));
    m_ui = MainWindowLayout::build(this, m_model);
    m_ui.callerId->setDataDir(m_dataDir);
    // Digits from the line that read two ways: the reading the register knows.
    m_ui.callerId->setCallerLookup([this](const QString &key) {
        std::optional<ContactRecord> found;
        return m_register && m_register->findCaller(PhoneNumber::read(key, m_ui.areaCode->text()), &found, nullptr)
            && found;
    });
    showLineStatus(QString(), true); // hidden, in the colours of a healthy line
    RegisterHealth::Window window;
    window.readAgain
        = [this](QString *error) { return m_model->search(m_ui.name->text(), error) && contactCount(error); };
    window.follow = [this](QString *error) { return m_model->reread(error) && contactCount(error); };
    window.holdsTyping = [this] { return hasUnsavedTyping(); };
    window.fail = [this](const QString &error) { fatal(error); };
    m_health = new RegisterHealth(m_ui.registerNotice, std::move(window), this);
    connectHandlers();
}

void MainWindow::connectHandlers()
{
    connect(m_ui.callerId, &CallerIdControl::statusChanged, this, &MainWindow::showLineStatus);
    connect(m_model, &ContactListModel::failed, m_health, &RegisterHealth::trouble);
    connect(m_model, &ContactListModel::waiting, m_health, &RegisterHealth::waiting);
    connect(m_model, &ContactListModel::recovered, m_health, &RegisterHealth::recovered);
    // A fresh list, read at once or found in the background, starts at its
    // first row (after the grid itself has taken the fresh list in).
    connect(m_model, &QAbstractItemModel::modelReset, this, &MainWindow::showFirstRow);
    if (auto *stack = m_ui.tabs->findChild<QStackedWidget *>())
        stack->installEventFilter(this);
    connect(m_ui.activateButton, &QPushButton::clicked, this, &MainWindow::activateCallerId);
    connect(m_ui.setupButton, &QPushButton::clicked, this, &MainWindow::openCallerIdSetup);
    connect(m_ui.clearButton, &QPushButton::clicked, this, &MainWindow::clearForm);
    connect(m_ui.saveButton, &QPushButton::clicked, this, &MainWindow::saveContact);
    connect(m_ui.deactivateButton, &QPushButton::clicked, this, &MainWindow::deactivateCallerId);
    connect(m_ui.deleteButton, &QPushButton::clicked, this, &MainWindow::deleteContact);
    connect(m_ui.helpButton, &QPushButton::clicked, this, &MainWindow::openHelp);
    connect(m_ui.callsButton, &QPushButton::clicked, this, &MainWindow::openCalls);
    connect(m_ui.name, &QLineEdit::textChanged, this, &MainWindow::searchByName);
    connect(m_ui.incomingNumber, &QLineEdit::textChanged, this, &MainWindow::lookUpCaller);
    // The monitor's number event writes its text, unchanged, into Text1.
    connect(m_ui.callerId, &CallerIdControl::numberReceived, this, &MainWindow::showIncomingCall);
    connect(m_ui.grid, &QTableView::doubleClicked, this, &MainWindow::pickCurrentRow);
    connect(m_ui.grid->selectionModel(), &QItemSelectionModel::currentChanged, this, &MainWindow::markCurrentRow);
    m_ui.grid->installEventFilter(this);
    m_ui.areaCode->installEventFilter(this);
    for (QPushButton *button : { m_ui.activateButton, m_ui.setupButton, m_ui.clearButton, m_ui.saveButton,
             m_ui.deactivateButton, m_ui.deleteButton, m_ui.helpButton, m_ui.callsButton })
        button->installEventFilter(this);
    m_enterFields = { m_ui.incomingNumber, m_ui.phone, m_ui.name, m_ui.address, m_ui.complement, m_ui.district,
        m_ui.city, m_ui.state, m_ui.postcode };
    for (QLineEdit *field : std::as_const(m_enterFields)) {
        field->installEventFilter(this);
        MainWindowLayout::setFieldBackground(field, Qt::white);
    }
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if ((event->type() == QEvent::Move || event->type() == QEvent::Resize) && watched->parent() == m_ui.tabs) {
        MainWindowLayout::placeTabPageChildren(m_ui.tabs);
    }

    if (watched == m_ui.grid) {
        // Only a key that moves the current row or picks it loads a contact;
        // Tab arriving from another control, a letter or a function key does not.
        if ((event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)
            && isGridKey(static_cast<QKeyEvent *>(event)->key())) {
            // On the press, the row the key starts from; on the release, the
            // row it moved to.
            pickCurrentRow();
        }
        return false;
    }
    if (auto *button = qobject_cast<QPushButton *>(watched); button && event->type() == QEvent::KeyPress) {
        // Enter on a button clicks it, as Space does.
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            button->click();
            return true;
        }
        return false;
    }
    if (watched == m_ui.areaCode) {
        if (event->type() == QEvent::FocusOut
            && static_cast<QFocusEvent *>(event)->reason() != Qt::ActiveWindowFocusReason
            && static_cast<QFocusEvent *>(event)->reason() != Qt::PopupFocusReason)
            storeAreaCode();
        return false;
    }
    auto *field = qobject_cast<QLineEdit *>(watched);
    if (!field || !m_enterFields.contains(field))
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::KeyPress: {
        auto *key = static_cast<QKeyEvent *>(event);
        int keyAscii = (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) ? 13 : -1;
        enterrrr::enterAsTab(this, keyAscii);
        return keyAscii == 0; // Enter never reaches the field
    }
    case QEvent::FocusIn:
    case QEvent::FocusOut: {
        // Switching to another window or a message box and back is not
        // leaving or entering a field; the window's first activation, which
        // brings the focus to a field not yet highlighted, is.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        const bool windowSwitch = reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason;
        if (windowSwitch
            && (event->type() == QEvent::FocusOut
                || field->palette().color(QPalette::Base) == MainWindowLayout::LightYellow))
            return false;
        if (event->type() == QEvent::FocusIn)
            fieldGotFocus(field, reason);
        else
            fieldLostFocus(field);
        return false;
    }
    default: return false;
    }
}

void MainWindow::fieldGotFocus(QLineEdit *field, Qt::FocusReason reason)
{
    // A new contact being typed is offered the number of the last call.
    if (field == m_ui.phone && m_ui.name->text().isEmpty() && m_ui.phone->text().isEmpty()
        && !m_ui.incomingNumber->text().isEmpty())
        m_ui.phone->setText(m_ui.incomingNumber->text());
    field->setCursorPosition(0);
    field->selectAll();
    highlight(field);
    // A click places the caret after the focus arrives: select again once the
    // click is done, so that typing still replaces the whole text.
    if (reason == Qt::MouseFocusReason)
        QTimer::singleShot(0, field, [field] { field->selectAll(); });
}

void MainWindow::highlight(QLineEdit *field)
{
    // A field whose leaving was not seen (the focus went to another window
    // and came back elsewhere) must not stay yellow beside the new one.
    if (m_highlighted && m_highlighted != field)
        MainWindowLayout::setFieldBackground(m_highlighted, Qt::white);
    m_highlighted = field;
    MainWindowLayout::setFieldBackground(field, MainWindowLayout::LightYellow);
}

void MainWindow::fieldLostFocus(QLineEdit *field)
{
    MainWindowLayout::setFieldBackground(field, Qt::white);
    if (m_highlighted == field)
        m_highlighted = nullptr;
    if (field == m_ui.phone)
        checkTelephone();
}

bool MainWindow::handleFunctionKey(int key, Qt::KeyboardModifiers)
{
    switch (key) {
    case Qt::Key_F1: activateCallerId(); return true;
    case Qt::Key_F2: deactivateCallerId(); return true;
    case Qt::Key_F3: clearForm(); return true;
    case Qt::Key_F4: openCalls(); return true;
    case Qt::Key_F5: takeWaitingCall(); return true;
    case Qt::Key_F6: openContactImport(); return true;
    case Qt::Key_Escape: endUnlessUnsaved(); return true;
    default: return false;
    }
}

bool MainWindow::load(QString *error)
{
    const QString sitePath = DataFolder::pathFor(m_dataDir, DataFiles::Site);
    m_ui.siteName->setText(sitePath);
    QString siteName;
    if (!SiteFile::readSiteName(sitePath, &siteName, error))
        return false;
    m_ui.siteName->setText(siteName);
    setWindowTitle(TitlePrefix + m_ui.siteName->text());

    m_register = Register::open(m_dataDir, m_databaseUrl, Register::Patience::Window, error);
    if (!m_register)
        return false;
    m_lookup = std::make_unique<CallerLookup>(*m_register);
    m_health->watch(m_register.get());
    m_model->setRegister(m_register.get());
    if (!listRefresh(error) || !contactCount(error))
        return false;
    startCallLog();
    WindowMenu::attach(this); // the right-click menu, and zuna --abrir from the desktop entry

    QString areaCode;
    if (!CallerIdSettings::loadAreaCode(*m_register, m_dataDir, &areaCode, error))
        return false;
    m_ui.areaCode->setText(areaCode);
    // The focus starts in Text1, highlighted, even before the window manager
    // activates the window.
    m_ui.incomingNumber->setFocus();
    fieldGotFocus(m_ui.incomingNumber, Qt::OtherFocusReason);
    return true;
}

bool MainWindow::listRefresh(QString *error)
{
    return m_model->refresh(error);
}

void MainWindow::showFirstRow()
{
    if (m_model->rowCount() > 0)
        m_ui.grid->setCurrentIndex(m_model->index(0, 0));
}

QString MainWindow::fieldText(QObject *field, const QString &shown) const
{
    // A field shows a stored value as it can: a notes box joins CR LF into one
    // break, a field with a maximum length cuts a longer value. What was not
    // edited is stored back exactly as it was read.
    const auto loaded = m_loaded.constFind(field);
    if (loaded == m_loaded.cend())
        return shown;
    if (shown == loaded->shown)
        return loaded->stored;
    if (field == m_ui.notes && loaded->stored.contains(QLatin1String("\r\n")))
        return QString(shown).replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return shown;
}

ContactRecord MainWindow::fieldsRecord() const
{
    ContactRecord r;
    r.a1 = fieldText(m_ui.name, m_ui.name->text());
    r.a4 = fieldText(m_ui.phone, m_ui.phone->text());
    r.a9 = fieldText(m_ui.address, m_ui.address->text());
    r.a10 = fieldText(m_ui.complement, m_ui.complement->text());
    r.a11 = fieldText(m_ui.district, m_ui.district->text());
    r.a12 = fieldText(m_ui.city, m_ui.city->text());
    r.a13 = fieldText(m_ui.state, m_ui.state->text());
    r.a14 = fieldText(m_ui.postcode, m_ui.postcode->text());
    r.ob = fieldText(m_ui.notes, m_ui.notes->toPlainText());
    return r;
}

void MainWindow::reportFailure(const QString &what, const QString &error)
{
    MessageBoxes::error(this, AppTitle, what + QStringLiteral("\n\n") + error);
}

bool MainWindow::contactCount(QString *error)
{
    qint64 count = 0;
    if (!m_register->count(&count, error))
        return false;
    m_ui.contactCount->setText(QString::number(count));
    return true;
}

void MainWindow::fatal(const QString &error)
{
    MessageBoxes::error(this, windowTitle(), error);
    m_terminate(1);
}

bool MainWindow::hasUnsavedTyping() const
{
    // Changed from what the window put there: typed into an empty field, or a
    // loaded value edited or emptied.
    auto changed = [this](QObject *field, const QString &text) {
        const auto loaded = m_loaded.constFind(field);
        return loaded == m_loaded.cend() ? !text.isEmpty() : loaded->shown != text;
    };
    for (QLineEdit *field :
        { m_ui.name, m_ui.phone, m_ui.address, m_ui.complement, m_ui.district, m_ui.city, m_ui.state, m_ui.postcode }) {
        if (changed(field, field->text()))
            return true;
    }
    return changed(m_ui.notes, m_ui.notes->toPlainText());
}

void MainWindow::endUnlessUnsaved()
{
    if (hasUnsavedTyping() && !MessageBoxes::confirmDefaultNo(this, AppTitle, QStringLiteral("Sair sem gravar?")))
        return;
    m_terminate(0);
}

void MainWindow::registerTrouble(const QString &error)
{
    m_health->trouble(error);
}

void MainWindow::refreshAfterWrite()
{
    // What was written is written: a list that cannot be read again now is
    // read again later.
    QString error;
    if (!listRefresh(&error) || !contactCount(&error))
        registerTrouble(error);
    else
        m_health->readable();
}

void MainWindow::activateCallerId()
{
    // Local numbers can be neither found nor stored without the desk's own
    // area code: the monitor is not switched on without it. One that is on
    // already stays on with the code it has, and says so.
    if (!PhoneNumber::isAreaCode(m_ui.areaCode->text())) {
        m_ui.callerId->showNotice(AreaCodeMissing);
        if (m_ui.callerId->isActive())
            showLineStatus(
                QStringLiteral("Monitor continua ligado com o DDD %1.").arg(m_ui.callerId->areaCode()), false);
        m_ui.areaCode->setFocus();
        return;
    }
    m_ui.callerId->setAreaCode(m_ui.areaCode->text());
#ifdef Q_OS_WIN
    // The plug-in's place, handed over as it always was; elsewhere there is
    // no such program and nothing is written.
    m_ui.callerId->setPluginPath(QDir::toNativeSeparators(QDir(m_dataDir).filePath(DataFiles::CallerIdPlugin)));
#endif
    m_ui.callerId->activate();
}

void MainWindow::showLineStatus(const QString &status, bool healthy)
{
    m_ui.lineStatus->setVisible(!status.isEmpty());
    QPalette pal = m_ui.lineStatus->palette();
    pal.setColor(QPalette::Window, healthy ? MainWindowLayout::Blue : MainWindowLayout::LightYellow);
    pal.setColor(QPalette::WindowText, healthy ? QColor(Qt::white) : QColor(Qt::black));
    m_ui.lineStatus->setPalette(pal);
    const QString oneLine = QString(status).replace(QLatin1Char('\n'), QLatin1Char(' '));
    m_ui.lineStatus->setText(
        m_ui.lineStatus->fontMetrics().elidedText(oneLine, Qt::ElideRight, m_ui.lineStatus->width() - 6));
    m_ui.lineStatus->setToolTip(OutsideText::toolTip(status));
}

void MainWindow::deactivateCallerId()
{
    m_ui.callerId->deactivate();
}

void MainWindow::openCallerIdSetup()
{
    // The screen changes the register's area code: the DDD field follows.
    CallerIdSetupDialog dialog(m_dataDir, this, m_register.get());
    if (dialog.exec() == QDialog::Accepted) {
        m_ui.areaCode->setText(dialog.settings().a2DDDLocal);
        m_ui.callerId->setDataDir(m_dataDir); // the new line settings, from the next F1
    }
}

void MainWindow::showIncomingCall(const QString &number)
{
    const CallArrival::Call call { number, {} };
    if (m_arrival.arrive(call, formState()) == CallArrival::Action::Wait)
        holdCall(call);
    else
        putCallInForm(call, true);
}

void MainWindow::showLineText(const QString &text)
{
    m_recording->recordText(text);
    const CallArrival::Call call { {}, text };
    if (m_arrival.arrive(call, formState()) == CallArrival::Action::Wait)
        holdCall(call);
    else
        putCallInForm(call, false);
}

CallArrival::Form MainWindow::formState() const
{
    return { hasUnsavedTyping(), MessageBoxes::openCount() > 0 };
}

void MainWindow::holdCall(const CallArrival::Call &call)
{
    bringUpForCall();
    if (!call.hasNumber()) { // the display shows the line's words
        showWaitingCall(QStringLiteral("%1 - F5 limpa o cadastro").arg(call.text));
        return;
    }
    // Looked up and logged now, as a call shown in the form would be; the
    // form itself stays as the attendant left it.
    const PhoneNumber number = PhoneNumber::read(call.number, m_ui.areaCode->text());
    const QString laidOut = number.layout(true);
    std::optional<ContactRecord> found;
    QString error;
    if (!m_register->findCaller(number, &found, &error))
        found.reset();
    m_receivedNumber = call.number;
    logCall(number, laidOut, found);
    const QString name = OutsideText::name(found ? found->a1 : m_ui.callerId->lastCallerName());
    const QString who = name.isEmpty() ? laidOut : laidOut + QStringLiteral(" · ") + OutsideText::quoted(name);
    if (found)
        m_ui.callerId->showCaller(laidOut, name);
    showWaitingCall(QStringLiteral("Em espera: %1 - F5 mostra no cadastro").arg(who));
}

void MainWindow::showWaitingCall(const QString &text)
{
    m_ui.waitingCall->setText(
        m_ui.waitingCall->fontMetrics().elidedText(text, Qt::ElideMiddle, m_ui.waitingCall->width() - 6));
    m_ui.waitingCall->setToolTip(OutsideText::toolTip(text));
    m_ui.waitingCall->show();
    m_ui.waitingCall->raise();
}

void MainWindow::putCallInForm(const CallArrival::Call &call, bool logIt)
{
    m_ui.waitingCall->hide();
    if (!call.hasNumber()) {
        // No number: whoever the form showed is not this caller.
        bringUpForCall();
        emptyForm();
        return;
    }
    // A call from the line: what the form holds belongs to someone else.
    const QScopedValueRollback fromLine(m_callFromLine, true);
    const QScopedValueRollback logging(m_logCall, logIt);
    m_receivedNumber = call.number;
    if (m_ui.incomingNumber->text() == call.number)
        lookUpCaller(); // the same number again is a new call all the same
    else
        m_ui.incomingNumber->setText(call.number);
}

void MainWindow::offerWaitingCall()
{
    if (const auto call = m_arrival.release(formState()))
        putCallInForm(*call, false);
}

void MainWindow::takeWaitingCall()
{
    if (!m_arrival.waiting())
        return;
    if (hasUnsavedTyping() && !MessageBoxes::confirmDefaultNo(this, AppTitle, TakeWaitingCall))
        return;
    // The newest call, which may have come while the question was open.
    if (const auto call = m_arrival.take()) {
        m_loaded.clear();
        m_loadedRecord.reset();
        putCallInForm(*call, false);
    }
}

void MainWindow::emptyForm()
{
    m_loaded.clear();
    m_loadedRecord.reset();
    m_ui.codeLabel->clear();
    m_ui.incomingNumber->clear();
    for (QLineEdit *field :
        { m_ui.phone, m_ui.name, m_ui.address, m_ui.complement, m_ui.district, m_ui.city, m_ui.state, m_ui.postcode })
        field->clear();
    m_ui.notes->clear();
}

void MainWindow::bringUpForCall()
{
    // The caller must be seen before the call is answered, but the keyboard
    // stays in the program the attendant is typing in.
    WindowAttention::bringUpWithoutFocus(this);
}

void MainWindow::lookUpCaller()
{
    const QString text = m_ui.incomingNumber->text();
    m_lookup->forget(); // a lookup on its way is not for what Text1 holds now
    if (text.isEmpty())
        return;
    bringUpForCall();

    // A number typed by hand is laid out from its own digits at each key, so
    // that the next digit still extends it, and only when the layout keeps
    // every digit typed (080077712 on its way to a 0800 number is not the
    // local 8007-7712); one from the line is complete.
    const PhoneNumber number = PhoneNumber::read(text, m_ui.areaCode->text());
    QString laidOut = number.layout(m_callFromLine);
    if (!m_callFromLine && digitsOf(laidOut) != digitsOf(text))
        laidOut = text;
    if (laidOut != text) {
        m_ui.incomingNumber->setText(laidOut); // runs this handling again, on the laid-out number
        return;
    }
    // The answer may come later (a server across town): it is shown only
    // while it is the latest and Text1 still holds its number, with the
    // flags of the call it was asked for.
    m_lookup->find(number,
        [this, number, text, fromLine = m_callFromLine, logIt = m_logCall, received = m_receivedNumber](
            const CallerLookup::Answer &answer) {
            const bool shown = answer.latest && m_ui.incomingNumber->text() == text;
            // Logged before anything is said about it, whatever the window
            // is doing, with the number the line handed over for this call.
            if (fromLine && logIt) {
                const QString newer = std::exchange(m_receivedNumber, received);
                logCall(number, text, answer.found);
                if (!shown)
                    m_receivedNumber = newer;
            }
            if (!shown)
                return;
            const QScopedValueRollback fromLineNow(m_callFromLine, fromLine);
            showLookedUp(answer.looked, answer.found, answer.error);
        });
}

void MainWindow::showLookedUp(bool looked, const std::optional<ContactRecord> &found, const QString &error)
{
    if (!looked) {
        reportFailure(QStringLiteral("Não foi possível procurar o número no cadastro."), error);
    } else if (found) {
        // The telephone field gets the incoming number below. The code label
        // and the notes follow the caller, so that a save updates the
        // caller's own row and keeps the caller's own notes.
        showContact(*found, false);
        m_ui.codeLabel->setText(QString::number(found->cd));
    } else {
        // An unknown caller: a save must store a new contact, never overwrite
        // the one picked before the call. A caller from the line must not be
        // greeted with the previous caller's name; half a number typed by hand
        // must not wipe what the attendant typed.
        m_ui.codeLabel->clear();
        m_loadedRecord.reset();
        if (m_callFromLine)
            showContact(ContactRecord(), false);
    }
    m_ui.phone->setText(m_ui.incomingNumber->text());
    // The number put there from Text1 is the window's, not typing of the
    // form: a call's number, or one typed into Text1, which the next call
    // replaces anyway.
    m_loaded.insert(m_ui.phone, { m_ui.phone->text(), m_ui.phone->text() });
}

void MainWindow::clearForm()
{
    QString error;
    const bool listed = listRefresh(&error) && contactCount(&error);
    m_loaded.clear();
    m_loadedRecord.reset();
    m_ui.notes->clear();
    m_ui.codeLabel->clear();
    m_ui.incomingNumber->clear();
    m_ui.phone->clear();
    m_ui.name->clear();
    m_ui.address->clear();
    m_ui.complement->clear();
    m_ui.district->clear();
    m_ui.city->clear();
    m_ui.state->clear();
    m_ui.postcode->clear();
    m_ui.incomingNumber->setFocus();
    // Judged on the emptied form: ending now loses nothing typed.
    if (!listed)
        registerTrouble(error);
    offerWaitingCall();
}

void MainWindow::saveContact()
{
    if (m_ui.name->text().isEmpty()) {
        MessageBoxes::notice(this, AppTitle, NameMissing);
        m_ui.name->setFocus();
        return;
    }
    if (m_ui.phone->text().isEmpty()) {
        MessageBoxes::notice(this, AppTitle, PhoneMissing);
        m_ui.phone->setFocus();
        return;
    }
    ContactRecord record = fieldsRecord();
    if (!m_ui.codeLabel->text().isEmpty())
        record.cd = m_ui.codeLabel->text().toLongLong();
    // Rewritten only while it holds what this desk showed: another desk may
    // have changed it since.
    const ContactRecord *asLoaded = m_loadedRecord && m_loadedRecord->cd == record.cd ? &*m_loadedRecord : nullptr;
    QString error;
    switch (ContactSaving(*m_register, this, AppTitle).save(&record, asLoaded, &error)) {
    case ContactSaving::Outcome::Failed: reportFailure(NotSaved, error); return;
    case ContactSaving::Outcome::Declined: return;
    case ContactSaving::Outcome::Stored: break;
    }
    m_ui.codeLabel->setText(QString::number(record.cd));
    // What is stored now is what the screen holds.
    rememberStored(record);
    refreshAfterWrite();
    MessageBoxes::notice(this, AppTitle, SavedNotice);
}

void MainWindow::rememberStored(const ContactRecord &record)
{
    m_loadedRecord = record;
    const std::pair<QObject *, const QString &> fields[] = {
        { m_ui.name, record.a1 },
        { m_ui.phone, record.a4 },
        { m_ui.address, record.a9 },
        { m_ui.complement, record.a10 },
        { m_ui.district, record.a11 },
        { m_ui.city, record.a12 },
        { m_ui.state, record.a13 },
        { m_ui.postcode, record.a14 },
    };
    for (const auto &[field, value] : fields)
        m_loaded.insert(field, { value, static_cast<QLineEdit *>(field)->text() });
    m_loaded.insert(m_ui.notes, { record.ob, m_ui.notes->toPlainText() });
}

void MainWindow::deleteContact()
{
    if (m_ui.codeLabel->text().isEmpty()) {
        MessageBoxes::notice(this, AppTitle, PickFirst);
        m_ui.name->setFocus();
        return;
    }
    // The answer acts on the contact asked about, whatever comes while the
    // question is open.
    const qint64 code = m_ui.codeLabel->text().toLongLong();
    const QString name = m_ui.name->text();
    if (!MessageBoxes::confirm(this, AppTitle, ConfirmDelete + QStringLiteral("\n\n") + name))
        return;
    QString error;
    if (!m_register->remove(code, &error)) {
        reportFailure(QStringLiteral("Não foi possível apagar o contato."), error);
        return;
    }
    clearForm(); // lists and counts again
}

void MainWindow::searchByName()
{
    QString error;
    if (!m_model->search(m_ui.name->text(), &error))
        registerTrouble(error);
}

void MainWindow::checkTelephone()
{
    MainWindowLayout::setFieldBackground(m_ui.phone, Qt::white);
    const PhoneNumber number = PhoneNumber::read(m_ui.phone->text(), m_ui.areaCode->text());
    // Eight characters lack the area code; 300X and 400X numbers have none.
    if (m_ui.phone->text().size() == 8 && number.kind() != PhoneNumber::Kind::NonGeographic) {
        MessageBoxes::notice(this, AppTitle, BadPhone);
        m_ui.phone->setFocus();
        return;
    }
    m_ui.phone->setText(number.layout());
}

void MainWindow::storeAreaCode()
{
    QString error;
    if (!CallerIdSettings::storeAreaCode(*m_register, m_dataDir, m_ui.areaCode->text(), &error))
        reportFailure(QStringLiteral("Não foi possível gravar o DDD local."), error);
}

void MainWindow::pickCurrentRow()
{
    const QModelIndex code = m_model->index(m_ui.grid->currentIndex().row(), ContactListModel::Code);
    if (code.isValid())
        m_ui.grid->setCurrentIndex(code);
    m_ui.codeLabel->setText(code.data().toString());
    loadPickedContact();
}

void MainWindow::markCurrentRow()
{
    const QModelIndex current = m_ui.grid->currentIndex();
    if (m_model->rowCount() == 0 || !current.isValid())
        return;
    m_ui.grid->selectionModel()->select(current, QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void MainWindow::loadPickedContact()
{
    if (m_ui.codeLabel->text().isEmpty())
        return;
    std::optional<ContactRecord> found;
    QString error;
    if (!m_register->findByCode(m_ui.codeLabel->text().toLongLong(), &found, &error)) {
        reportFailure(QStringLiteral("Não foi possível ler o contato escolhido; o que está na tela continua."), error);
        return;
    }
    if (found)
        showContact(*found, true);
}

void MainWindow::showContact(const ContactRecord &contact, bool withTelephone)
{
    m_loaded.clear();
    if (contact.cd != 0)
        m_loadedRecord = contact;
    else
        m_loadedRecord.reset();
    auto show = [this](QLineEdit *field, const QString &value) {
        field->setText(value);
        m_loaded.insert(field, { value, field->text() });
    };
    show(m_ui.name, contact.a1); // narrows the grid at once
    if (withTelephone)
        show(m_ui.phone, contact.a4);
    show(m_ui.address, contact.a9);
    show(m_ui.complement, contact.a10);
    show(m_ui.district, contact.a11);
    show(m_ui.city, contact.a12);
    show(m_ui.state, contact.a13);
    show(m_ui.postcode, contact.a14);
    m_ui.notes->setPlainText(contact.ob);
    m_loaded.insert(m_ui.notes, { contact.ob, m_ui.notes->toPlainText() });
}

void MainWindow::openHelp()
{
    // The data folder's help program when there is one, else the built-in manual.
    HelpDialog::open(m_dataDir, m_register ? m_register->where() : QString(), this);
}

void MainWindow::startCallLog()
{
    m_callLog = new CallLog(m_dataDir, m_databaseUrl, this);
    m_callsWindow = new CallsWindow(m_register.get(), m_callLog, this);
    m_notifier = new CallNotifier(this);
    connect(m_ui.callerId, &CallerIdControl::textReceived, this, &MainWindow::showLineText);
    m_recording = new CallRecording(m_ui.callerId, m_callLog, m_callsWindow, m_notifier, this, this);
    connect(m_callLog, &CallLog::failed, this, [this](const QString &error) {
        showLineStatus(QStringLiteral("Chamada não registrada no histórico: %1").arg(error), false);
    });
    connect(m_callLog, &CallLog::newCallsChanged, m_notifier, &CallNotifier::setNewCalls);
    connect(m_callsWindow, &CallsWindow::callPicked, this, &MainWindow::loadCall);
    connect(m_notifier, &CallNotifier::callActivated, this, [this](qint64 id) {
        bringToFront();
        m_callsWindow->showLog(id);
    });
    connect(m_notifier, &CallNotifier::trayActivated, this, [this] {
        bringToFront();
        if (m_callLog->newCalls() > 0)
            m_callsWindow->showLog();
    });
}

void MainWindow::openContactImport()
{
    auto *dialog = new ContactImportDialog(m_register.get(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &ContactImportDialog::imported, this, &MainWindow::refreshAfterWrite);
    dialog->open();
}

void MainWindow::openCalls()
{
    if (m_callsWindow)
        m_callsWindow->showLog();
}

void MainWindow::logCall(const PhoneNumber &number, const QString &laidOut, const std::optional<ContactRecord> &found)
{
    m_recording->recordNumber(m_receivedNumber, number, laidOut, found);
    m_receivedNumber.clear();
}

void MainWindow::loadCall(const CallRecord &call)
{
    bringToFront();
    std::optional<ContactRecord> found;
    QString error;
    if (call.contactCode > 0 && !m_register->findByCode(call.contactCode, &found, &error)) {
        reportFailure(QStringLiteral("Não foi possível ler o contato da chamada; o que está na tela continua."), error);
        return;
    }
    if (found) {
        showContact(*found, true);
        m_ui.codeLabel->setText(QString::number(found->cd));
        m_ui.name->setFocus();
        return;
    }
    // Not in the register (or deleted since): the number, ready for a new
    // contact.
    clearForm();
    if (call.kind == CallRecord::Kind::Number)
        m_ui.phone->setText(call.laidOut);
    m_ui.name->setFocus();
}

void MainWindow::bringToFront()
{
    if (windowState() & Qt::WindowMinimized)
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}
