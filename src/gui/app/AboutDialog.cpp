#include "gui/app/AboutDialog.h"

#include "core/contacts/BackupFolder.h"
#include "core/contacts/RegisterRestore.h"
#include "core/contacts/SqliteRegister.h"
#include "core/platform/LibraryVersions.h"
#include "gui/app/MainWindow.h"
#include "gui/platform/FileChooser.h"
#include "gui/platform/MessageBoxes.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QDir>
#include <QEventLoop>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QTextBrowser>
#include <QThread>
#include <QVBoxLayout>

namespace {

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

} // namespace

AboutDialog::AboutDialog(const QString &dataDir, const QString &registerWhere, QWidget *parent)
    : QDialog(parent)
    , m_dataDir(dataDir)
{
    setObjectName(QStringLiteral("sobre"));
    setWindowTitle(QStringLiteral("Sobre o Zuna"));

    const QString version = QStringLiteral(ZUNA_VERSION);
    const QString folder = QDir::toNativeSeparators(dataDir);
    const QString where = registerWhere.isEmpty() ? QStringLiteral("nenhum aberto") : registerWhere;
    const QString messages
        = QStringLiteral("na saída de erros: aberto pelo menu, no diário da sessão (journalctl --user -b) "
                         "ou em ~/.xsession-errors; aberto num terminal, nele");
    const QString report
        = QStringLiteral("copie estes dados com “Copiar” e envie-os a quem mantém o Zuna na sua empresa, com o que "
                         "você fazia, o que esperava, o que aconteceu e as mensagens da saída de erros");
    const auto libraries = LibraryVersions::all();

    QStringList lines;
    lines << QStringLiteral("Zuna %1").arg(version) << QStringLiteral("Licença: GNU GPL versão 3 ou posterior")
          << QStringLiteral("Pasta de dados: %1").arg(folder) << QStringLiteral("Cadastro: %1").arg(where)
          << QStringLiteral("Mensagens: %1").arg(messages) << QStringLiteral("Bibliotecas:");
    for (const auto &library : libraries)
        lines << QStringLiteral("  %1 %2").arg(library.name, library.version);
    m_facts = lines.join(QLatin1Char('\n')) + QLatin1Char('\n');

    QString html = QStringLiteral("<h2>Zuna %1</h2>"
                                  "<p>Identificador de chamadas e cadastro de contatos.</p>"
                                  "<p>Software livre sob a GNU General Public License, versão 3 ou (a seu "
                                  "critério) qualquer versão posterior, sem nenhuma garantia. O texto da "
                                  "licença está em /usr/share/common-licenses/GPL-3.</p>")
                       .arg(escaped(version));
    html += QStringLiteral("<p><b>Pasta de dados:</b> %1<br><b>Cadastro em uso:</b> %2</p>")
                .arg(escaped(folder), escaped(where));
    html += QStringLiteral("<p><b>Bibliotecas:</b></p><table cellpadding=\"2\">");
    for (const auto &library : libraries)
        html += QStringLiteral("<tr><td>%1</td><td>%2</td></tr>").arg(escaped(library.name), escaped(library.version));
    html += QStringLiteral("</table>");
    html += QStringLiteral("<p><b>Mensagens:</b> %1.</p><p><b>Para relatar um defeito:</b> %2.</p>")
                .arg(escaped(messages), escaped(report));

    m_text = new QTextBrowser(this);
    m_text->setObjectName(QStringLiteral("fatos"));
    m_text->setHtml(html);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton *copy = buttons->addButton(QStringLiteral("Copiar"), QDialogButtonBox::ActionRole);
    copy->setObjectName(QStringLiteral("copiar"));
    connect(copy, &QPushButton::clicked, this, [this] { QApplication::clipboard()->setText(m_facts); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // A register on a server is restored with the server's own tools.
    for (QWidget *w = parent; w && !m_window; w = w->parentWidget())
        m_window = qobject_cast<MainWindow *>(w);
    if (m_window && dynamic_cast<SqliteRegister *>(m_window->contactRegister())) {
        QPushButton *restore
            = buttons->addButton(QStringLiteral("Restaurar uma cópia..."), QDialogButtonBox::ActionRole);
        restore->setObjectName(QStringLiteral("restaurar"));
        connect(restore, &QPushButton::clicked, this, &AboutDialog::chooseCopy);
    }

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    layout->addWidget(buttons);
    resize(fontMetrics().averageCharWidth() * 70, fontMetrics().height() * 30);
}

void AboutDialog::chooseCopy()
{
    const QString path = FileChooser::openFile(this, QStringLiteral("Restaurar uma cópia do cadastro"),
        BackupFolder::pathFor(m_dataDir), QStringLiteral("Cópias do cadastro (*.sqlite *.gz);;Todos os arquivos (*)"));
    if (!path.isEmpty())
        restoreFrom(path);
}

void AboutDialog::restoreFrom(const QString &copyPath)
{
    const QString title = QStringLiteral("Restaurar uma cópia");
    // Unpacked and checked beside the register, off the window's thread: a
    // large copy takes a while.
    auto restore = std::make_shared<RegisterRestore>(m_dataDir, copyPath);
    QProgressDialog progress(QStringLiteral("Verificando a cópia..."), QString(), 0, 0, this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(1000);
    QPointer<QProgressDialog> shown(&progress);
    bool ok = false;
    QString error;
    QEventLoop wait;
    QThread *worker = QThread::create([&] {
        qint64 contacts = 0;
        ok = restore->prepare(&contacts, &error, [shown](qint64 done, qint64 total) {
            QMetaObject::invokeMethod(shown, [shown, done, total] {
                if (shown && total > 0) {
                    shown->setRange(0, 1000);
                    shown->setValue(int(done * 1000 / total));
                }
            });
        });
    });
    connect(worker, &QThread::finished, &wait, &QEventLoop::quit);
    worker->start();
    wait.exec();
    worker->wait();
    delete worker;
    progress.close();
    if (!ok) {
        MessageBoxes::error(this, title, QStringLiteral("%1\n\nNada foi mudado.").arg(error));
        return;
    }
    if (!MessageBoxes::confirmDefaultNo(this, title,
            QStringLiteral("Cópia verificada: %1\nÍntegra e com as tabelas do cadastro; %2 contatos.\n\n"
                           "Pôr esta cópia no lugar do cadastro? O cadastro atual é guardado antes como mais uma "
                           "cópia; a janela do Zuna se fecha e abre de novo com o cadastro restaurado.")
                .arg(copyPath)
                .arg(restore->contacts())))
        return;
    if (m_window) {
        // Queued: the window is closed only once this dialog has returned.
        QMetaObject::invokeMethod(
            m_window,
            [window = QPointer(m_window), restore] {
                if (window)
                    emit window->restoreRequested(restore);
            },
            Qt::QueuedConnection);
    }
    accept();
}
