#include "gui/app/HelpDialog.h"

#include "core/platform/DataFiles.h"
#include "core/platform/DataFolder.h"
#include "core/platform/ProgramLauncher.h"
#include "gui/app/AboutDialog.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

HelpDialog::HelpDialog(const QString &dataDir, const QString &registerWhere, QWidget *parent)
    : QDialog(parent)
    , m_dataDir(dataDir)
    , m_registerWhere(registerWhere)
{
    setObjectName(QStringLiteral("ajuda"));
    setWindowTitle(QStringLiteral("Ajuda do Zuna"));
    setAttribute(Qt::WA_DeleteOnClose);

    m_manual = new QTextBrowser(this);
    m_manual->setObjectName(QStringLiteral("manual"));
    m_manual->setOpenExternalLinks(false);
    m_manual->setSource(QUrl(QStringLiteral("qrc:/help/manual.html")));

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton *about = buttons->addButton(QStringLiteral("Sobre o Zuna"), QDialogButtonBox::ActionRole);
    about->setObjectName(QStringLiteral("sobreZuna"));
    connect(about, &QPushButton::clicked, this, &HelpDialog::openAbout);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_manual);
    layout->addWidget(buttons);
    resize(fontMetrics().averageCharWidth() * 90, fontMetrics().height() * 36);
}

void HelpDialog::open(const QString &dataDir, const QString &registerWhere, QWidget *parent)
{
    QString program = DataFolder::findFile(dataDir, DataFiles::Help);
    if (program.isEmpty())
        program = DataFolder::findFile(dataDir, DataFiles::HelpExe);
    if (ProgramLauncher::startDetached(program))
        return;
    auto *dialog = parent ? parent->findChild<HelpDialog *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
    if (!dialog)
        dialog = new HelpDialog(dataDir, registerWhere, parent);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

void HelpDialog::openAbout()
{
    auto *about = new AboutDialog(m_dataDir, m_registerWhere, this);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->open();
}
