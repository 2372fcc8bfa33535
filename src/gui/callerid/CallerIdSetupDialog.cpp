#include "gui/callerid/CallerIdSetupDialog.h"

#include "core/callerid/sources/LineSources.h"
#include "core/callerid/sources/PulseAudioCapture.h"
#include "core/callerid/sources/SoundCardSource.h"
#include "core/contacts/Register.h"
#include "gui/platform/FileChooser.h"
#include "gui/platform/MessageBoxes.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSerialPortInfo>
#include <QSpinBox>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

// The order of the source list and of the pages.
const CallerIdSettings::Source Sources[] = { CallerIdSettings::Source::SoundCard, CallerIdSettings::Source::AudioFile,
    CallerIdSettings::Source::Modem, CallerIdSettings::Source::Ncid, CallerIdSettings::Source::Sip,
    CallerIdSettings::Source::SipListen, CallerIdSettings::Source::None };

int indexOf(CallerIdSettings::Source source)
{
    return int(std::find(std::begin(Sources), std::end(Sources), source) - std::begin(Sources));
}

} // namespace

CallerIdSetupDialog::CallerIdSetupDialog(const QString &dataDir, QWidget *parent, Register *reg)
    : QDialog(parent)
    , m_dataDir(dataDir)
    , m_settings(CallerIdSettings::load(dataDir))
    , m_register(reg)
{
    if (!m_register) {
        m_ownRegister = Register::open(dataDir, {}, Register::Patience::Window, nullptr);
        m_register = m_ownRegister.get();
    }
    QString areaCode;
    if (m_register && CallerIdSettings::loadAreaCode(*m_register, dataDir, &areaCode, nullptr))
        m_settings.a2DDDLocal = areaCode;
    setObjectName(QStringLiteral("CallerIdSetup"));
    setWindowTitle(QStringLiteral("Configuração do identificador de chamadas"));
    auto *layout = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    layout->addLayout(form);

    m_source = new QComboBox(this);
    m_source->setObjectName(QStringLiteral("fonte"));
    m_source->addItems({ QStringLiteral("Placa de som"), QStringLiteral("Arquivo de áudio"), QStringLiteral("Modem"),
        QStringLiteral("Servidor NCID"), QStringLiteral("Conta SIP (registro no PABX)"),
        QStringLiteral("SIP direto (escuta)"), QStringLiteral("Nenhuma") });
    form->addRow(QStringLiteral("&Fonte da linha:"), m_source);

    m_pages = new QStackedWidget(this);
    layout->addWidget(m_pages);
    auto *sound = new QWidget;
    buildSoundPage(sound);
    m_pages->addWidget(sound);

    auto *file = new QWidget;
    auto *fileLayout = new QHBoxLayout(file);
    m_audioFile = new QLineEdit(m_settings.audioFile, file);
    m_audioFile->setObjectName(QStringLiteral("arquivo"));
    auto *browse = new QPushButton(QStringLiteral("&Procurar..."), file);
    browse->setObjectName(QStringLiteral("procurarArquivo"));
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString path = FileChooser::openFile(this, QStringLiteral("Gravação da linha"), m_audioFile->text(),
            QStringLiteral("Áudio (*.wav *.flac *.ogg);;Todos (*)"));
        if (!path.isEmpty())
            m_audioFile->setText(path);
    });
    fileLayout->addWidget(new QLabel(QStringLiteral("Arquivo:"), file));
    fileLayout->addWidget(m_audioFile, 1);
    fileLayout->addWidget(browse);
    m_pages->addWidget(file);

    auto *modem = new QWidget;
    auto *modemForm = new QFormLayout(modem);
    m_modemPort = new QComboBox(modem);
    m_modemPort->setObjectName(QStringLiteral("modem-porta"));
    m_modemPort->setEditable(true);
    for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts())
        m_modemPort->addItem(port.systemLocation());
    m_modemPort->setCurrentText(m_settings.modemPort);
    m_modemBaud = new QSpinBox(modem);
    m_modemBaud->setRange(300, 921600);
    m_modemBaud->setValue(m_settings.modemBaud);
    m_modemInit = new QLineEdit(m_settings.modemInit, modem);
    modemForm->addRow(QStringLiteral("Porta:"), m_modemPort);
    modemForm->addRow(QStringLiteral("Velocidade:"), m_modemBaud);
    modemForm->addRow(QStringLiteral("Inicialização:"), m_modemInit);
    m_pages->addWidget(modem);

    auto *ncid = new QWidget;
    auto *ncidForm = new QFormLayout(ncid);
    m_ncidHost = new QLineEdit(m_settings.ncidHost, ncid);
    m_ncidHost->setObjectName(QStringLiteral("ncid-servidor"));
    m_ncidPort = new QSpinBox(ncid);
    m_ncidPort->setObjectName(QStringLiteral("ncid-porta"));
    m_ncidPort->setRange(1, 65535);
    m_ncidPort->setValue(m_settings.ncidPort);
    ncidForm->addRow(QStringLiteral("Servidor:"), m_ncidHost);
    ncidForm->addRow(QStringLiteral("Porta:"), m_ncidPort);
    m_pages->addWidget(ncid);

    auto *sip = new QWidget;
    auto *sipForm = new QFormLayout(sip);
    m_sipAccount = new QLineEdit(m_settings.sipAccount, sip);
    m_sipAccount->setObjectName(QStringLiteral("sip-conta"));
    m_sipAccount->setPlaceholderText(QStringLiteral("ramal@pabx.local:5060"));
    m_sipAuthUser = new QLineEdit(m_settings.sipAuthUser, sip);
    m_sipAuthUser->setObjectName(QStringLiteral("sip-usuario"));
    m_sipAuthUser->setPlaceholderText(QStringLiteral("(o da conta)"));
    m_sipPasswordFile = new QLineEdit(m_settings.sipPasswordFile, sip);
    m_sipPasswordFile->setObjectName(QStringLiteral("sip-arquivo-senha"));
    m_sipPasswordFile->setToolTip(QStringLiteral("Arquivo com a senha na primeira linha, legível só por você "
                                                 "(chmod 600); um nome sem pasta fica na pasta de dados"));
    sipForm->addRow(QStringLiteral("Conta:"), m_sipAccount);
    sipForm->addRow(QStringLiteral("Usuário de autenticação:"), m_sipAuthUser);
    sipForm->addRow(QStringLiteral("Arquivo da senha:"), m_sipPasswordFile);
    m_pages->addWidget(sip);

    auto *sipListen = new QWidget;
    auto *sipListenForm = new QFormLayout(sipListen);
    m_sipListen = new QLineEdit(m_settings.sipListen, sipListen);
    m_sipListen->setObjectName(QStringLiteral("sip-escuta"));
    m_sipListen->setPlaceholderText(QStringLiteral("[endereço:]porta, ex.: 5060"));
    sipListenForm->addRow(QStringLiteral("Escutar em:"), m_sipListen);
    m_pages->addWidget(sipListen);
    m_pages->addWidget(new QWidget); // no source

    // Every source but the sound card (which has its meter and test): a
    // check that runs it as the monitor would.
    m_lineCheck = new QWidget(this);
    auto *checkRow = new QHBoxLayout(m_lineCheck);
    checkRow->setContentsMargins(0, 0, 0, 0);
    m_checkLine = new QPushButton(QStringLiteral("Testar a &fonte"), m_lineCheck);
    m_checkLine->setObjectName(QStringLiteral("testarFonte"));
    m_lineState = new QLabel(m_lineCheck);
    m_lineState->setObjectName(QStringLiteral("estadoFonte"));
    m_lineState->setWordWrap(true);
    m_lineState->setTextFormat(Qt::PlainText);
    checkRow->addWidget(m_checkLine, 0, Qt::AlignTop);
    checkRow->addWidget(m_lineState, 1);
    layout->addWidget(m_lineCheck);
    connect(m_checkLine, &QPushButton::clicked, this, &CallerIdSetupDialog::toggleLineCheck);

    auto *common = new QFormLayout;
    layout->addLayout(common);
    m_areaCode = new QLineEdit(m_settings.a2DDDLocal, this);
    m_areaCode->setObjectName(QStringLiteral("ddd"));
    m_areaCode->setMaxLength(2);
    m_areaCode->setInputMask(QString());
    m_areaCode->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,2}")), m_areaCode));
    common->addRow(QStringLiteral("&DDD local:"), m_areaCode);
    m_sensitivity = new QSpinBox(this);
    m_sensitivity->setObjectName(QStringLiteral("sensibilidade"));
    m_sensitivity->setRange(1, 10);
    m_sensitivity->setValue(m_settings.a8Sensibility);
    m_sensitivity->setToolTip(QStringLiteral("Quanto maior, mais fracos os tons ouvidos (8: -42 dBm0)"));
    common->addRow(QStringLiteral("&Sensibilidade:"), m_sensitivity);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Save)->setText(QStringLiteral("&Gravar"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("&Cancelar"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CallerIdSetupDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CallerIdSetupDialog::reject);
    layout->addWidget(buttons);

    connect(m_source, &QComboBox::currentIndexChanged, this, [this](int index) {
        stopTest();
        stopLineCheck();
        m_pages->setCurrentIndex(index);
        showLineCheck();
    });
    m_source->setCurrentIndex(indexOf(m_settings.source));
    m_pages->setCurrentIndex(indexOf(m_settings.source));
    showLineCheck();
}

CallerIdSetupDialog::~CallerIdSetupDialog()
{
    stopTest();
    stopLineCheck();
}

void CallerIdSetupDialog::showLineCheck()
{
    const auto source = Sources[m_source->currentIndex()];
    m_lineCheck->setVisible(source != CallerIdSettings::Source::SoundCard && source != CallerIdSettings::Source::None);
}

void CallerIdSetupDialog::toggleLineCheck()
{
    if (m_checkSource) {
        stopLineCheck();
        return;
    }
    m_checkSource = createLineSource(settings(), this);
    if (!m_checkSource)
        return;
    m_lineState->setText(QStringLiteral("Iniciando..."));
    connect(m_checkSource, &LineSource::statusChanged, this,
        [this](const QString &status, bool) { m_lineState->setText(status); });
    connect(m_checkSource, &LineSource::callerReceived, this, [this](const QString &number, const QString &name) {
        m_lineState->setText(m_lineState->text() + QStringLiteral("\nChamada: ")
            + (name.isEmpty() ? number : QStringLiteral("%1 · %2").arg(number, name)));
    });
    connect(m_checkSource, &LineSource::textReceived, this, [this](const QString &text) {
        m_lineState->setText(m_lineState->text() + QStringLiteral("\nChamada: ") + text);
    });
    m_checkSource->start();
    m_checkLine->setText(QStringLiteral("&Parar o teste"));
}

void CallerIdSetupDialog::stopLineCheck()
{
    if (!m_checkSource)
        return;
    m_checkSource->stop();
    delete m_checkSource;
    m_checkSource = nullptr;
    m_checkLine->setText(QStringLiteral("Testar a &fonte"));
    m_lineState->clear();
}

void CallerIdSetupDialog::buildSoundPage(QWidget *page)
{
    auto *form = new QFormLayout(page);
    m_soundDevice = new QComboBox(page);
    m_soundDevice->setObjectName(QStringLiteral("entrada-de-som"));
    m_soundDevice->setEditable(true);
    m_soundDevice->addItem(QStringLiteral("(entrada padrão)"), QString());
    for (const auto &[name, description] : PulseAudioCapture::inputs())
        m_soundDevice->addItem(QStringLiteral("%1 — %2").arg(description, name), name);
    const int current = m_soundDevice->findData(m_settings.soundDevice);
    if (current >= 0)
        m_soundDevice->setCurrentIndex(current);
    else
        m_soundDevice->setCurrentText(m_settings.soundDevice);
    form->addRow(QStringLiteral("&Entrada:"), m_soundDevice);

    m_level = new QProgressBar(page);
    m_level->setObjectName(QStringLiteral("nivel"));
    m_level->setRange(-60, 0);
    m_level->setValue(-60);
    m_level->setFormat(QStringLiteral("%v dB"));
    form->addRow(QStringLiteral("Nível:"), m_level);

    auto *row = new QHBoxLayout;
    m_test = new QPushButton(QStringLiteral("&Testar"), page);
    m_test->setObjectName(QStringLiteral("testar"));
    m_digits = new QLineEdit(page);
    m_digits->setObjectName(QStringLiteral("digitos"));
    m_digits->setReadOnly(true);
    m_digits->setPlaceholderText(QStringLiteral("dígitos recebidos"));
    row->addWidget(m_test);
    row->addWidget(m_digits, 1);
    form->addRow(QString(), row);
    m_testStatus = new QLabel(page);
    m_testStatus->setObjectName(QStringLiteral("estadoTeste"));
    m_testStatus->setTextFormat(Qt::PlainText); // the sound server's words among them
    m_testStatus->setWordWrap(true);
    form->addRow(QString(), m_testStatus);
    connect(m_test, &QPushButton::clicked, this, &CallerIdSetupDialog::toggleTest);
}

void CallerIdSetupDialog::toggleTest()
{
    if (m_testSource) {
        stopTest();
        return;
    }
    const CallerIdSettings s = settings();
    m_digits->clear();
    m_testSource = new SoundCardSource(s.soundDevice, s.a8Sensibility, s.a2DDDLocal, this);
    connect(m_testSource, &SoundCardSource::levelChanged, this,
        [this](double db) { m_level->setValue(int(std::max(db, -60.0))); });
    connect(m_testSource, &SoundCardSource::digitDetected, this,
        [this](QChar d) { m_digits->setText(m_digits->text() + d); });
    connect(m_testSource, &LineSource::numberReceived, this, [this](const QString &n) {
        m_digits->setText(m_digits->text() + QStringLiteral("  → ") + n + QStringLiteral("  "));
    });
    connect(m_testSource, &LineSource::textReceived, this, [this](const QString &t) {
        m_digits->setText(m_digits->text() + QStringLiteral("  → ") + t + QStringLiteral("  "));
    });
    connect(m_testSource, &LineSource::statusChanged, this, [this](const QString &status, bool healthy) {
        // A device that failed must not look like a silent line.
        m_testStatus->setText(status);
        // The pages stack does not pass a wrapped label's height on: asked
        // for here, the dialog grows until the reason is read whole.
        m_testStatus->setMinimumHeight(m_testStatus->heightForWidth(m_testStatus->width()));
        if (height() < sizeHint().height())
            resize(width(), sizeHint().height());
        m_level->setFormat(healthy ? QStringLiteral("%v dB") : QStringLiteral("falhou"));
        if (!healthy)
            m_level->setValue(m_level->minimum());
    });
    m_testSource->start();
    m_test->setText(QStringLiteral("&Parar"));
}

void CallerIdSetupDialog::stopTest()
{
    if (!m_testSource)
        return;
    m_testSource->stop();
    delete m_testSource;
    m_testSource = nullptr;
    m_test->setText(QStringLiteral("&Testar"));
    m_level->setValue(-60);
    m_level->setFormat(QStringLiteral("%v dB"));
    m_testStatus->clear();
    m_testStatus->setMinimumHeight(0);
}

CallerIdSettings CallerIdSetupDialog::settings() const
{
    CallerIdSettings s = m_settings;
    s.source = Sources[m_source->currentIndex()];
    const QVariant device = m_soundDevice->currentData();
    s.soundDevice = m_soundDevice->currentIndex() >= 0
            && m_soundDevice->currentText() == m_soundDevice->itemText(m_soundDevice->currentIndex())
        ? device.toString()
        : m_soundDevice->currentText();
    s.audioFile = m_audioFile->text();
    s.modemPort = m_modemPort->currentText();
    s.modemBaud = m_modemBaud->value();
    s.modemInit = m_modemInit->text();
    s.ncidHost = m_ncidHost->text();
    s.ncidPort = m_ncidPort->value();
    s.sipAccount = m_sipAccount->text().trimmed();
    s.sipAuthUser = m_sipAuthUser->text().trimmed();
    s.sipPasswordFile = m_sipPasswordFile->text().trimmed();
    s.sipListen = m_sipListen->text().trimmed();
    s.a2DDDLocal = m_areaCode->text();
    s.a8Sensibility = m_sensitivity->value();
    return s;
}

void CallerIdSetupDialog::accept()
{
    stopTest();
    stopLineCheck();
    const CallerIdSettings chosen = settings();
    if (!chosen.save(m_dataDir)) {
        MessageBoxes::error(this, windowTitle(),
            QStringLiteral("Não foi possível gravar %1.").arg(CallerIdSettings::filePath(m_dataDir)));
        return;
    }
    QString error;
    if (m_register && !CallerIdSettings::storeAreaCode(*m_register, m_dataDir, chosen.a2DDDLocal, &error)) {
        MessageBoxes::error(
            this, windowTitle(), QStringLiteral("Não foi possível gravar o DDD local.\n\n%1").arg(error));
        return;
    }
    QDialog::accept();
}
