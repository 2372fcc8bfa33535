#include "gui/app/ContactImportDialog.h"

#include "core/contacts/Register.h"
#include "gui/platform/FileChooser.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QThreadPool>
#include <QVBoxLayout>

namespace {
const QString Title = QStringLiteral("Importar contatos");
} // namespace

ContactImportDialog::ContactImportDialog(Register *reg, QWidget *parent)
    : QDialog(parent)
    , m_register(reg)
{
    setObjectName(QStringLiteral("importarContatos"));
    setWindowTitle(Title);
    resize(620, 420);
    auto *layout = new QVBoxLayout(this);
    m_file = new QLabel(QStringLiteral("Escolha um arquivo CSV ou vCard (.vcf) com os contatos."), this);
    m_file->setTextFormat(Qt::PlainText);
    m_file->setWordWrap(true);
    layout->addWidget(m_file);
    m_columns = new QGroupBox(QStringLiteral("Campo das colunas não reconhecidas"), this);
    m_columnsLayout = new QFormLayout(m_columns);
    m_columns->hide();
    layout->addWidget(m_columns);
    m_preview = new QPlainTextEdit(this);
    m_preview->setObjectName(QStringLiteral("previa"));
    m_preview->setReadOnly(true);
    m_preview->setLineWrapMode(QPlainTextEdit::NoWrap);
    layout->addWidget(m_preview, 1);
    m_merge = new QCheckBox(QStringLiteral("Completar os contatos já cadastrados com o que o arquivo traz "
                                           "(campos preenchidos ficam; o que difere vai para as observações)"),
        this);
    m_merge->setObjectName(QStringLiteral("completar"));
    m_merge->setEnabled(false);
    layout->addWidget(m_merge);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progresso"));
    m_progress->hide();
    layout->addWidget(m_progress);
    auto *buttons = new QDialogButtonBox(this);
    m_choose = buttons->addButton(QStringLiteral("Escolher arquivo..."), QDialogButtonBox::ActionRole);
    m_choose->setObjectName(QStringLiteral("escolherArquivo"));
    m_import = buttons->addButton(QStringLiteral("Importar"), QDialogButtonBox::AcceptRole);
    m_import->setObjectName(QStringLiteral("importar"));
    m_import->setEnabled(false);
    m_close = buttons->addButton(QStringLiteral("Fechar"), QDialogButtonBox::RejectRole);
    m_close->setObjectName(QStringLiteral("fechar"));
    layout->addWidget(buttons);
    connect(m_choose, &QPushButton::clicked, this, &ContactImportDialog::chooseFile);
    connect(m_import, &QPushButton::clicked, this, &ContactImportDialog::importContacts);
    connect(m_close, &QPushButton::clicked, this, &ContactImportDialog::reject);
    connect(m_merge, &QCheckBox::toggled, this, [this] {
        if (!m_busy && !m_read.format.isEmpty()) {
            m_preview->setPlainText(ContactImport::describe(m_read, 20, m_merge->isChecked()));
            setBusy(false);
        }
    });
}

bool ContactImportDialog::canWrite() const
{
    return !m_read.toAdd.isEmpty() || (m_merge->isChecked() && !m_read.merges.isEmpty());
}

void ContactImportDialog::reject()
{
    if (!m_busy) // the writing is never left half-way
        QDialog::reject();
}

void ContactImportDialog::setBusy(bool busy)
{
    m_busy = busy;
    m_choose->setEnabled(!busy);
    m_columns->setEnabled(!busy);
    m_close->setEnabled(!busy);
    m_merge->setEnabled(!busy && !m_read.merges.isEmpty());
    m_import->setEnabled(!busy && canWrite());
}

void ContactImportDialog::chooseFile()
{
    const QString path = FileChooser::openFile(
        this, Title, QString(), QStringLiteral("Contatos (*.csv *.vcf *.txt);;Todos os arquivos (*)"));
    if (!path.isEmpty())
        openFile(path);
}

void ContactImportDialog::openFile(const QString &path)
{
    m_path = path;
    m_chosen.clear();
    while (m_columnsLayout->rowCount() > 0)
        m_columnsLayout->removeRow(0);
    m_columns->hide();
    m_file->setText(QStringLiteral("Arquivo: %1").arg(path));
    readFile();
}

void ContactImportDialog::readFile()
{
    m_read = ContactImport::Preview();
    m_preview->setPlainText(QStringLiteral("Lendo o arquivo..."));
    setBusy(true);
    auto read = std::make_shared<ContactImport::Preview>();
    m_progress->setRange(0, 0);
    m_progress->show();
    QThreadPool::globalInstance()->start(
        [reg = m_register, path = m_path, chosen = m_chosen, read, self = QPointer(this)] {
            QString areaCode, error;
            reg->loadAreaCode(&areaCode, nullptr);
            const bool ok = ContactImport::read(
                path, *reg, areaCode, read.get(), &error,
                [self](qint64 done, qint64 total) {
                    QMetaObject::invokeMethod(qApp, [self, done, total] {
                        if (self) {
                            self->m_progress->setRange(0, int(total));
                            self->m_progress->setValue(int(done));
                        }
                    });
                },
                chosen);
            QMetaObject::invokeMethod(qApp, [self, read, ok, error] {
                if (!self)
                    return;
                self->m_read = std::move(*read);
                self->showPreview(ok, error);
            });
        });
}

void ContactImportDialog::showPreview(bool ok, const QString &error)
{
    if (!ok)
        m_read = ContactImport::Preview();
    m_preview->setPlainText(ok ? ContactImport::describe(m_read, 20, m_merge->isChecked()) : error);
    m_progress->hide();
    if (ok && !m_read.unclear.isEmpty() && m_chosen.isEmpty())
        offerColumns();
    setBusy(false);
}

// A box per unclear column, showing the field it is taken as; a choice reads
// the file again with it.
void ContactImportDialog::offerColumns()
{
    const auto choices = ContactCsv::choices();
    for (const int column : std::as_const(m_read.unclear)) {
        const ContactCsv::Column taken = m_read.columns.value(column);
        m_chosen.insert(column, taken);
        auto *box = new QComboBox(m_columns);
        box->setObjectName(QStringLiteral("campoColuna%1").arg(column + 1));
        for (const auto &[field, name] : choices) {
            box->addItem(name, int(field));
            if (field == taken)
                box->setCurrentIndex(box->count() - 1);
        }
        const QString example = m_read.example.value(column).simplified().left(30);
        auto *label = new QLabel(QStringLiteral("%1 \"%2\"%3")
                                     .arg(column + 1)
                                     .arg(m_read.header.value(column).simplified(),
                                         example.isEmpty() ? QString() : QStringLiteral(" (ex.: %1)").arg(example)),
            m_columns);
        label->setTextFormat(Qt::PlainText);
        m_columnsLayout->addRow(label, box);
        connect(box, &QComboBox::currentIndexChanged, this, [this, box, column] {
            m_chosen.insert(column, ContactCsv::Column(box->currentData().toInt()));
            readFile();
        });
    }
    m_columns->show();
}

void ContactImportDialog::importContacts()
{
    const bool merge = m_merge->isChecked();
    const qint64 added = m_read.toAdd.size();
    const qint64 merged = merge ? m_read.merges.size() : 0;
    const qint64 total = added + merged;
    m_progress->setRange(0, int(total));
    m_progress->setValue(0);
    m_progress->show();
    setBusy(true);
    auto preview = std::make_shared<ContactImport::Preview>(m_read);
    QThreadPool::globalInstance()->start([reg = m_register, preview, merge, added, merged, self = QPointer(this)] {
        QString error;
        const bool ok = ContactImport::write(
            *reg, *preview, merge,
            [self](qint64 done) {
                QMetaObject::invokeMethod(qApp, [self, done] {
                    if (self)
                        self->m_progress->setValue(int(done));
                });
            },
            &error);
        QMetaObject::invokeMethod(qApp, [self, ok, added, merged, error] {
            if (!self)
                return;
            self->m_progress->setValue(int(added + merged));
            self->m_read = ContactImport::Preview();
            self->setBusy(false);
            QString done = QStringLiteral("%1 contatos importados").arg(added);
            if (merged > 0)
                done += QStringLiteral(", %1 contatos já cadastrados completados").arg(merged);
            self->m_preview->setPlainText(
                ok ? done + QLatin1Char('.') : QStringLiteral("Nada foi gravado.\n\n%1").arg(error));
            if (ok)
                emit self->imported(added + merged);
        });
    });
}
