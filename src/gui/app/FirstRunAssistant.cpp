#include "gui/app/FirstRunAssistant.h"

#include "core/app/ServerCheck.h"
#include "core/callerid/CallerIdSettings.h"
#include "core/contacts/PhoneNumber.h"
#include "core/contacts/PostgresConnection.h"
#include "gui/callerid/CallerIdSetupDialog.h"
#include "gui/platform/FileChooser.h"

#include <QButtonGroup>
#include <QEventLoop>
#include <QFileInfo>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QLabel *wrappedLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QString sourceName(const CallerIdSettings &s)
{
    using S = CallerIdSettings::Source;
    switch (s.source) {
    case S::SoundCard:
        return s.soundDevice.isEmpty() ? QStringLiteral("placa de som, entrada padrão")
                                       : QStringLiteral("placa de som, %1").arg(s.soundDevice);
    case S::AudioFile: return QStringLiteral("arquivo de áudio %1").arg(s.audioFile);
    case S::Modem: return QStringLiteral("modem em %1").arg(s.modemPort);
    case S::Ncid: return QStringLiteral("servidor NCID %1:%2").arg(s.ncidHost).arg(s.ncidPort);
    case S::Sip: return QStringLiteral("conta SIP %1").arg(s.sipAccount);
    case S::SipListen: return QStringLiteral("SIP direto, escutando em %1").arg(s.sipListen);
    case S::None: break;
    }
    return QStringLiteral("nenhuma");
}

} // namespace

FirstRunAssistant::FirstRunAssistant(QString dataDir, QString workerProgram, QWidget *parent)
    : QWizard(parent)
    , m_dataDir(std::move(dataDir))
    , m_workerProgram(std::move(workerProgram))
{
    setObjectName(QStringLiteral("primeiroUso"));
    setWindowTitle(QStringLiteral("Zuna: primeiro uso"));
    setWizardStyle(QWizard::ClassicStyle);
    setOption(QWizard::NoBackButtonOnStartPage);
    setButtonText(QWizard::BackButton, QStringLiteral("< &Voltar"));
    setButtonText(QWizard::NextButton, QStringLiteral("&Avançar >"));
    setButtonText(QWizard::FinishButton, QStringLiteral("&Concluir"));
    setButtonText(QWizard::CancelButton, QStringLiteral("Cancelar"));
    setPage(SitePage, makeSitePage());
    setPage(AreaCodePage, makeAreaCodePage());
    setPage(RegisterPage, makeRegisterPage());
    setPage(LinePage, makeLinePage());
    setStartId(SitePage);
    // Room for the wrapped questions to read as lines, not as a column of
    // words, at any font.
    setMinimumWidth(fontMetrics().averageCharWidth() * 60);
    connect(this, &QWizard::currentIdChanged, this, &FirstRunAssistant::fitPageLater);
}

FirstRunAssistant::~FirstRunAssistant() = default;

QWizardPage *FirstRunAssistant::makeSitePage()
{
    auto *page = new QWizardPage;
    page->setTitle(QStringLiteral("Bem-vindo ao Zuna"));
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(wrappedLabel(QStringLiteral("Ainda não há uma pasta de dados para o Zuna. Estas perguntas a "
                                                  "criam em:\n%1\n\nQual é o nome do local? Ele aparece no título "
                                                  "da janela.")
                                       .arg(m_dataDir),
        page));
    m_site = new QLineEdit(QStringLiteral("Minha empresa"), page);
    m_site->setObjectName(QStringLiteral("local"));
    layout->addWidget(m_site);
    layout->addStretch();
    return page;
}

QWizardPage *FirstRunAssistant::makeAreaCodePage()
{
    auto *page = new QWizardPage;
    page->setTitle(QStringLiteral("DDD local"));
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(wrappedLabel(QStringLiteral("Qual é o DDD desta mesa? Com ele, um número local que chega sem "
                                                  "DDD é encontrado no cadastro."),
        page));
    m_areaCode = new QLineEdit(page);
    m_areaCode->setObjectName(QStringLiteral("ddd"));
    m_areaCode->setMaxLength(2);
    m_areaCode->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,2}")), m_areaCode));
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("&DDD:"), m_areaCode);
    layout->addLayout(form);
    layout->addStretch();
    return page;
}

QWizardPage *FirstRunAssistant::makeRegisterPage()
{
    auto *page = new QWizardPage;
    page->setTitle(QStringLiteral("Cadastro de contatos"));
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(wrappedLabel(QStringLiteral("Onde fica o cadastro de contatos desta mesa?"), page));
    m_registerChoice = new QButtonGroup(page);
    auto *fresh = new QRadioButton(QStringLiteral("Um cadastro &novo, vazio, neste computador"), page);
    fresh->setObjectName(QStringLiteral("cadastroNovo"));
    fresh->setChecked(true);
    auto *access = new QRadioButton(QStringLiteral("Trazer o cadastro do sistema &anterior (CADA.MDB)"), page);
    access->setObjectName(QStringLiteral("cadastroAccess"));
    auto *shared = new QRadioButton(QStringLiteral("Usar o cadastro &compartilhado de um servidor PostgreSQL"), page);
    shared->setObjectName(QStringLiteral("cadastroServidor"));
    m_registerChoice->addButton(fresh, int(FirstRunSetup::RegisterChoice::New));
    m_registerChoice->addButton(access, int(FirstRunSetup::RegisterChoice::Access));
    m_registerChoice->addButton(shared, int(FirstRunSetup::RegisterChoice::Server));
    layout->addWidget(fresh);
    layout->addWidget(access);

    auto *fileRow = new QHBoxLayout;
    m_accessFile = new QLineEdit(page);
    m_accessFile->setObjectName(QStringLiteral("arquivoAccess"));
    m_accessFile->setEnabled(false);
    auto *browse = new QPushButton(QStringLiteral("&Procurar..."), page);
    browse->setObjectName(QStringLiteral("procurarAccess"));
    browse->setEnabled(false);
    fileRow->addSpacing(24);
    fileRow->addWidget(m_accessFile);
    fileRow->addWidget(browse);
    layout->addLayout(fileRow);
    m_accessAreaCode = wrappedLabel(QString(), page);
    m_accessAreaCode->setObjectName(QStringLiteral("dddAccess"));
    m_accessAreaCode->setIndent(24);
    layout->addWidget(m_accessAreaCode);
    layout->addWidget(shared);

    auto *serverForm = new QFormLayout;
    serverForm->setContentsMargins(24, 0, 0, 0);
    m_server = new QLineEdit(page);
    m_server->setObjectName(QStringLiteral("servidor"));
    m_server->setPlaceholderText(QStringLiteral("postgresql://zuna@servidor/zuna"));
    m_password = new QLineEdit(page);
    m_password->setObjectName(QStringLiteral("senha"));
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setPlaceholderText(QStringLiteral("vazia: a de ~/.pgpass"));
    auto *test = new QPushButton(QStringLiteral("&Testar"), page);
    test->setObjectName(QStringLiteral("testarServidor"));
    serverForm->addRow(QStringLiteral("Endereço:"), m_server);
    serverForm->addRow(QStringLiteral("Senha:"), m_password);
    serverForm->addRow(QString(), test);
    layout->addLayout(serverForm);
    m_serverResult = wrappedLabel(QString(), page);
    m_serverResult->setObjectName(QStringLiteral("resultadoServidor"));
    m_serverResult->setIndent(24);
    layout->addWidget(m_serverResult);
    layout->addWidget(wrappedLabel(QStringLiteral("Os arquivos do Access são só lidos, nunca alterados. A senha do "
                                                  "servidor vai para ~/.pgpass, só do seu usuário; nunca para os "
                                                  "arquivos do Zuna."),
        page));
    layout->addStretch();
    for (QWidget *w : std::initializer_list<QWidget *> { m_server, m_password, test }) {
        w->setEnabled(false);
        connect(shared, &QRadioButton::toggled, w, &QWidget::setEnabled);
    }
    connect(test, &QPushButton::clicked, this, &FirstRunAssistant::testServer);
    connect(test, &QPushButton::clicked, this, &FirstRunAssistant::fitPageLater);

    connect(access, &QRadioButton::toggled, m_accessFile, &QWidget::setEnabled);
    connect(access, &QRadioButton::toggled, browse, &QWidget::setEnabled);
    connect(browse, &QPushButton::clicked, this, &FirstRunAssistant::chooseAccessFile);
    connect(m_accessFile, &QLineEdit::textChanged, this, [this] {
        const QString ddd = choices().accessAreaCodeFile();
        m_accessAreaCode->setText(ddd.isEmpty() || m_accessFile->text().isEmpty()
                ? QString()
                : QStringLiteral("%1 também é lido; o DDD local fica o da página anterior.")
                      .arg(QFileInfo(ddd).fileName()));
    });
    return page;
}

QWizardPage *FirstRunAssistant::makeLinePage()
{
    auto *page = new QWizardPage;
    page->setTitle(QStringLiteral("Linha telefônica"));
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(
        wrappedLabel(QStringLiteral("De onde vem o número de quem liga? Escolha a fonte e confira-a na hora: a "
                                    "placa de som, com o medidor de nível e \"Testar\"; uma conta SIP, com o "
                                    "estado do registro; um servidor NCID ou um modem, com a conexão (\"Testar a "
                                    "fonte\"). Isso pode ser feito depois, com o botão direito do mouse no visor "
                                    "de chamadas."),
            page));
    m_lineChoice = wrappedLabel(QString(), page);
    m_lineChoice->setObjectName(QStringLiteral("fonteEscolhida"));
    layout->addWidget(m_lineChoice);
    auto *configure = new QPushButton(QStringLiteral("&Escolher e testar a linha..."), page);
    configure->setObjectName(QStringLiteral("configurarLinha"));
    connect(configure, &QPushButton::clicked, this, &FirstRunAssistant::configureLine);
    layout->addWidget(configure, 0, Qt::AlignLeft);
    layout->addStretch();
    showLineChoice();
    return page;
}

void FirstRunAssistant::chooseAccessFile()
{
    const QString file = FileChooser::openFile(this, QStringLiteral("O cadastro do sistema anterior"),
        QFileInfo(m_accessFile->text()).path(), QStringLiteral("Cadastro do Access (*.mdb *.MDB)"));
    if (!file.isEmpty())
        m_accessFile->setText(file);
}

bool FirstRunAssistant::testServer()
{
    const QString server = m_server->text().trimmed();
    if (server.isEmpty()) {
        m_serverResult->setText(QStringLiteral("Digite o endereço do servidor."));
        return false;
    }
    if (PostgresConnection::hasPassword(server)) {
        m_serverResult->setText(QStringLiteral("Escreva a senha no campo Senha, não no endereço: o endereço fica "
                                               "gravado na pasta de dados."));
        return false;
    }
    m_serverResult->setText(QStringLiteral("Testando %1...").arg(PostgresConnection::shown(server)));
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const ServerCheck check = ServerCheck::run(server, m_password->text());
    QGuiApplication::restoreOverrideCursor();
    if (!check.ok) {
        m_serverResult->setText(check.error);
        return false;
    }
    QString found = QStringLiteral("Conectado a %1 como %2.").arg(PostgresConnection::shown(server), check.user);
    if (!check.hasRegister)
        found += QStringLiteral(" O banco não tem cadastro: ele será criado.");
    else if (PhoneNumber::isAreaCode(check.areaCode))
        found += QStringLiteral(" O cadastro já existe e será usado, com o DDD dele, %1.").arg(check.areaCode);
    else
        found += QStringLiteral(" O cadastro já existe e será usado.");
    m_serverResult->setText(found);
    return true;
}

void FirstRunAssistant::configureLine()
{
    if (!m_lineDir) {
        m_lineDir = std::make_unique<QTemporaryDir>();
        if (!m_lineDir->isValid()) {
            complain(QStringLiteral("Não foi possível criar uma pasta temporária: %1").arg(m_lineDir->errorString()));
            m_lineDir.reset();
            return;
        }
    }
    CallerIdSettings line = CallerIdSettings::load(m_lineDir->path());
    line.a2DDDLocal = m_areaCode->text();
    line.save(m_lineDir->path());
    CallerIdSetupDialog dialog(m_lineDir->path(), this);
    if (dialog.exec() == QDialog::Accepted)
        m_lineConfigured = true;
    showLineChoice();
}

void FirstRunAssistant::showLineChoice()
{
    const CallerIdSettings line = m_lineDir ? CallerIdSettings::load(m_lineDir->path()) : CallerIdSettings();
    m_lineChoice->setText(QStringLiteral("Fonte da linha: %1").arg(sourceName(line)));
    fitPageLater();
}

FirstRunSetup FirstRunAssistant::choices() const
{
    FirstRunSetup setup;
    setup.siteName = m_site->text();
    setup.areaCode = m_areaCode->text();
    setup.registerChoice = FirstRunSetup::RegisterChoice(m_registerChoice->checkedId());
    if (setup.registerChoice == FirstRunSetup::RegisterChoice::Access)
        setup.accessFile = m_accessFile->text().trimmed();
    if (setup.registerChoice == FirstRunSetup::RegisterChoice::Server) {
        setup.server = m_server->text().trimmed();
        setup.password = m_password->text();
    }
    if (m_lineDir && m_lineConfigured)
        setup.callerIdSettingsFile = CallerIdSettings::filePath(m_lineDir->path());
    return setup;
}

void FirstRunAssistant::fitPageLater()
{
    QTimer::singleShot(0, this, &FirstRunAssistant::fitPage);
}

void FirstRunAssistant::fitPage()
{
    // QWizard keeps its size from page to page and leaves out what wrapped
    // text needs at the page's width: the page's own minimum width and the
    // height of its texts at that width are added here, so that no
    // question, choice or problem is cut off.
    QWizardPage *page = currentPage();
    QLayout *layout = page ? page->layout() : nullptr;
    if (!layout)
        return;
    layout->activate();
    const int pageWidth = std::max(page->width(), layout->totalMinimumSize().width());
    const int pageHeight
        = layout->hasHeightForWidth() ? layout->totalHeightForWidth(pageWidth) : layout->totalMinimumSize().height();
    if (pageWidth > page->width() || pageHeight > page->height())
        resize(width() + pageWidth - page->width(), height() + std::max(0, pageHeight - page->height()));
}

void FirstRunAssistant::showEvent(QShowEvent *event)
{
    QWizard::showEvent(event);
    fitPageLater();
}

void FirstRunAssistant::complain(const QString &text)
{
    QWizardPage *page = currentPage();
    if (!page)
        return;
    QLabel *&label = m_problem[currentId()];
    if (!label) {
        label = wrappedLabel(QString(), page);
        label->setObjectName(QStringLiteral("problema"));
        label->setStyleSheet(QStringLiteral("color: #b00000"));
        page->layout()->addWidget(label);
    }
    label->setText(text);
    label->setVisible(!text.isEmpty());
    fitPageLater();
}

bool FirstRunAssistant::validateCurrentPage()
{
    complain({});
    switch (currentId()) {
    case SitePage:
        if (m_site->text().trimmed().isEmpty()) {
            complain(QStringLiteral("Digite o nome do local."));
            return false;
        }
        break;
    case AreaCodePage:
        if (!PhoneNumber::isAreaCode(m_areaCode->text())) {
            complain(QStringLiteral("Digite um DDD brasileiro de dois algarismos, por exemplo 11."));
            return false;
        }
        break;
    case RegisterPage:
        if (m_registerChoice->checkedId() == int(FirstRunSetup::RegisterChoice::Access)
            && !QFileInfo(m_accessFile->text().trimmed()).isFile()) {
            complain(QStringLiteral("Escolha o arquivo CADA.MDB do sistema anterior."));
            return false;
        }
        if (m_registerChoice->checkedId() == int(FirstRunSetup::RegisterChoice::Server) && !testServer()) {
            complain(QStringLiteral("O servidor não pôde ser usado; veja acima."));
            return false;
        }
        break;
    default: break;
    }
    return true;
}

void FirstRunAssistant::accept()
{
    if (m_making || !validateCurrentPage())
        return;
    // The work runs off the window's thread, so that the progress shows and
    // Cancel is heard; the Access import has its own time limit. Cancel
    // cannot stop the import half-way, but what it made is thrown away
    // before it takes the folder's place.
    const FirstRunSetup setup = choices();
    QProgressDialog progress(this);
    progress.setObjectName(QStringLiteral("progresso"));
    progress.setWindowTitle(windowTitle());
    progress.setWindowModality(Qt::ApplicationModal);
    progress.setLabelText(setup.registerChoice == FirstRunSetup::RegisterChoice::Access
            ? QStringLiteral("Trazendo o cadastro de %1...").arg(QFileInfo(setup.accessFile).fileName())
            : QStringLiteral("Criando a pasta de dados..."));
    progress.setRange(0, 0);
    progress.setCancelButtonText(QStringLiteral("Cancelar"));
    progress.setMinimumDuration(0);
    connect(&progress, &QProgressDialog::canceled, this, &FirstRunAssistant::reject);
    connect(&progress, &QDialog::rejected, this, &FirstRunAssistant::reject);
    m_cancelled = false;
    m_making = &progress;
    progress.show();
    QStringList report;
    QString error;
    bool ok = false;
    QEventLoop loop;
    QThread *worker
        = QThread::create([&] { ok = setup.create(m_dataDir, m_workerProgram, &report, &error, &m_cancelled); });
    connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    loop.exec();
    worker->wait();
    delete worker;
    m_making = nullptr;
    // Closing the progress says "canceled" too: not heard any more.
    progress.disconnect(this);
    progress.hide();
    if (!ok && m_cancelled) {
        QWizard::reject();
        return;
    }
    if (!ok) {
        complain(QStringLiteral("Não foi possível criar a pasta de dados; nada foi criado.\n\n%1").arg(error));
        return;
    }
    // A cancel that came after the folder was in its place: the folder is
    // whole, and it is used.
    m_report = report;
    QWizard::accept();
}

void FirstRunAssistant::reject()
{
    if (!m_making) {
        QWizard::reject();
        return;
    }
    m_cancelled = true;
    // The progress hides itself on Cancel; it stays up, saying why the
    // assistant has not closed yet.
    m_making->setLabelText(QStringLiteral("Cancelando: desfazendo o que já foi feito..."));
    m_making->show();
}
