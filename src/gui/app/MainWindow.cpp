#include "gui/app/MainWindow.h"

#include "core/app/SiteFile.h"
#include "core/callerid/OutsideText.h"
#include "core/contacts/ContactListModel.h"
#include "core/contacts/PhoneNumber.h"
#include "core/platform/DataFiles.h"
#include "core/platform/DataFolder.h"
#include "gui/app/CallLog.h"
#include "gui/app/CallNotifier.h"
#include "gui/app/CallReception.h"
#include "gui/app/CallRecording.h"
#include "gui/app/CallsWindow.h"
#include "gui/app/ContactCommands.h"
#include "gui/app/ContactImportDialog.h"
#include "gui/app/HelpDialog.h"
#include "gui/app/KeyPreview.h"
#include "gui/app/RegisterHealth.h"
#include "gui/app/WindowMenu.h"
#include "gui/app/enterrrr.h"
#include "gui/callerid/CallerIdControl.h"
#include "gui/callerid/CallerIdSetupDialog.h"
#include "gui/platform/MessageBoxes.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>

namespace {

// What the attendant reads, exactly as the window has always said it.
const QString BadPhone = QStringLiteral("Atenção este formato de telefone não está correto.");
const QString AreaCodeMissing = QStringLiteral("DDD local não informado");

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
    , m_form(m_ui)
{
    buildWindow();
    // A call that came while a question was open comes in once it is
    // answered and its answer has acted.
    MessageBoxes::setAfterClose([this] { QTimer::singleShot(0, m_reception, &CallReception::offerWaitingCall); });
    new KeyPreview(
        this, [this](int key, Qt::KeyboardModifiers modifiers) { return handleFunctionKey(key, modifiers); });
}

MainWindow::~MainWindow()
{
    MessageBoxes::setAfterClose(nullptr);
    // The grid's readers and the callers' lookup are the register's: they go
    // first.
    m_model->setRegister(nullptr);
    m_reception->setRegister(nullptr);
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
    window.holdsTyping = [this] { return m_form.hasUnsavedTyping(); };
    window.fail = [this](const QString &error) { fatal(error); };
    m_health = new RegisterHealth(m_ui.registerNotice, std::move(window), this);
    m_reception = new CallReception(this, m_ui, m_form, AppTitle);
    m_commands = new ContactCommands(
        this, m_ui, m_form, AppTitle, { [this] { refreshAfterWrite(); }, [this] { clearForm(); } });
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
    connect(m_ui.incomingNumber, &QLineEdit::textChanged, m_reception, &CallReception::lookUpCaller);
    // The monitor's number event writes its text, unchanged, into Text1.
    connect(m_ui.callerId, &CallerIdControl::numberReceived, m_reception, &CallReception::showIncomingCall);
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
    case Qt::Key_F5: m_reception->takeWaitingCall(); return true;
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
    m_health->watch(m_register.get());
    m_reception->setRegister(m_register.get());
    m_model->setRegister(m_register.get());
    if (!m_model->refresh(error) || !contactCount(error))
        return false;
    m_errand = std::make_unique<RegisterErrand>(*m_register);
    m_commands->setRegister(m_register.get(), m_errand.get());
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

void MainWindow::showFirstRow()
{
    if (m_model->rowCount() > 0)
        m_ui.grid->setCurrentIndex(m_model->index(0, 0));
}

void MainWindow::reportFailure(const QString &what, const QString &error)
{
    MessageBoxes::error(this, AppTitle, what + QStringLiteral("\n\n") + error);
}

bool MainWindow::contactCount(QString *error)
{
    // A server across town is counted on the errand's thread; the label
    // follows when the answer comes, after any save handed over before.
    if (m_errand && !m_register->answersWithin(ContactListModel::windowBudgetMs())) {
        struct Count
        {
            bool ok = false;
            qint64 n = 0;
            QString error;
        };
        auto count = std::make_shared<Count>();
        m_errand->run([reg = m_register.get(), count] { count->ok = reg->count(&count->n, &count->error); },
            [this, count] {
                if (count->ok)
                    m_ui.contactCount->setText(QString::number(count->n));
                else
                    m_health->trouble(count->error);
            });
        return true;
    }
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

void MainWindow::endUnlessUnsaved()
{
    if (m_form.hasUnsavedTyping()
        && !MessageBoxes::confirmDefaultNo(this, AppTitle, QStringLiteral("Sair sem gravar?")))
        return;
    m_terminate(0);
}

void MainWindow::refreshAfterWrite()
{
    // What was written is written: a list that cannot be read again now is
    // read again later.
    QString error;
    if (!m_model->refresh(&error) || !contactCount(&error))
        m_health->trouble(error);
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

void MainWindow::clearForm()
{
    if (m_commands->busy())
        return;
    // A name in the field is searched for anew as it is emptied: the whole
    // list, read once. Read here as well, it would be read twice in a row,
    // the second waiting for the first on a server across town.
    const bool named = !m_ui.name->text().isEmpty();
    m_form.empty();
    QString error;
    const bool listed = (named || m_model->refresh(&error)) && contactCount(&error);
    m_ui.incomingNumber->setFocus();
    // Judged on the emptied form: ending now loses nothing typed.
    if (!listed)
        m_health->trouble(error);
    m_reception->offerWaitingCall();
}

void MainWindow::saveContact()
{
    m_commands->save();
}

void MainWindow::deleteContact()
{
    m_commands->remove();
}

void MainWindow::searchByName()
{
    QString error;
    if (!m_model->search(m_ui.name->text(), &error))
        m_health->trouble(error);
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
    m_commands->pickRow();
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
    m_commands->loadPicked();
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
    connect(m_ui.callerId, &CallerIdControl::textReceived, m_reception, &CallReception::showLineText);
    m_reception->setRecording(new CallRecording(m_ui.callerId, m_callLog, m_callsWindow, m_notifier, this, this));
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
        m_form.show(*found, true);
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
