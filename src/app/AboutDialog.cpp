#include "app/AboutDialog.h"

#include "platform/LibraryVersions.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QDir>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace {

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

} // namespace

AboutDialog::AboutDialog(const QString &dataDir, const QString &registerWhere, QWidget *parent)
    : QDialog(parent)
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

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    layout->addWidget(buttons);
    resize(fontMetrics().averageCharWidth() * 70, fontMetrics().height() * 30);
}
