#include "gui/app/ContactCommands.h"

#include "core/app/RegisterErrand.h"
#include "core/contacts/ContactListModel.h"
#include "core/contacts/Register.h"
#include "gui/app/ContactForm.h"
#include "gui/app/MainWindowLayout.h"
#include "gui/platform/MessageBoxes.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTableView>

#include <memory>
#include <utility>

namespace {

// What the attendant reads, exactly as the window has always said it.
const QString NameMissing = QStringLiteral("Digite o nome antes.");
const QString PhoneMissing = QStringLiteral("Digite o telefone antes.");
const QString SavedNotice = QStringLiteral("Operação realizada com sucesso.");
const QString PickFirst = QStringLiteral("Primeiro clique sobre o nome desejado na tabela de dados.");
const QString ConfirmDelete = QStringLiteral("Confirma exclusão?");
const QString NotSaved = QStringLiteral("Não foi possível gravar o contato; o que foi digitado continua na tela.");

} // namespace

ContactCommands::ContactCommands(
    QWidget *window, const MainWindowControls &ui, ContactForm &form, const QString &title, Window hooks)
    : QObject(window)
    , m_window(window)
    , m_ui(ui)
    , m_form(form)
    , m_title(title)
    , m_hooks(std::move(hooks))
{
}

void ContactCommands::setRegister(Register *reg, RegisterErrand *errand)
{
    m_register = reg;
    m_errand = errand;
}

bool ContactCommands::far() const
{
    return m_errand && !m_register->answersWithin(ContactListModel::windowBudgetMs());
}

void ContactCommands::reportFailure(const QString &what, const QString &error)
{
    MessageBoxes::error(m_window, m_title, what + QStringLiteral("\n\n") + error);
}

void ContactCommands::save()
{
    if (m_saving)
        return;
    if (m_ui.name->text().isEmpty()) {
        MessageBoxes::notice(m_window, m_title, NameMissing);
        m_ui.name->setFocus();
        return;
    }
    if (m_ui.phone->text().isEmpty()) {
        MessageBoxes::notice(m_window, m_title, PhoneMissing);
        m_ui.phone->setFocus();
        return;
    }
    ContactRecord record = m_form.record();
    if (!m_ui.codeLabel->text().isEmpty())
        record.cd = m_ui.codeLabel->text().toLongLong();
    // Rewritten only while it holds what this desk showed: another desk may
    // have changed it since.
    const ContactRecord *asLoaded = m_form.asLoaded(record.cd);
    if (far()) {
        saveInBackground(record, asLoaded ? std::optional(*asLoaded) : std::nullopt);
        return;
    }
    QString error;
    finishSave(ContactSaving(*m_register, m_window, m_title).save(&record, asLoaded, &error), record, error);
}

void ContactCommands::saveInBackground(const ContactRecord &record, const std::optional<ContactRecord> &asLoaded)
{
    // The form waits, read-only, for the answer: what it holds is what is
    // being stored. A second save, a delete or a clear meanwhile is ignored.
    setSaving(true);
    struct Save
    {
        ContactRecord record;
        std::optional<ContactRecord> asLoaded;
        ContactSaving::Written written = ContactSaving::Written::Failed;
        QString error;
    };
    auto save = std::make_shared<Save>();
    save->record = record;
    save->asLoaded = asLoaded;
    m_errand->run(
        [reg = m_register, save] {
            save->written
                = ContactSaving::write(*reg, &save->record, save->asLoaded ? &*save->asLoaded : nullptr, &save->error);
        },
        [this, save] {
            setSaving(false);
            ContactSaving saving(*m_register, m_window, m_title);
            switch (save->written) {
            case ContactSaving::Written::Failed:
                finishSave(ContactSaving::Outcome::Failed, save->record, save->error);
                break;
            case ContactSaving::Written::Stored:
                finishSave(ContactSaving::Outcome::Stored, save->record, save->error);
                break;
            case ContactSaving::Written::ChangedElsewhere:
                finishSave(saving.settleChangedElsewhere(&save->record, &save->error), save->record, save->error);
                break;
            }
        });
}

void ContactCommands::setSaving(bool saving)
{
    m_saving = saving;
    for (QLineEdit *field :
        { m_ui.name, m_ui.phone, m_ui.address, m_ui.complement, m_ui.district, m_ui.city, m_ui.state, m_ui.postcode })
        field->setReadOnly(saving);
    m_ui.notes->setReadOnly(saving);
}

void ContactCommands::finishSave(ContactSaving::Outcome outcome, const ContactRecord &record, const QString &error)
{
    switch (outcome) {
    case ContactSaving::Outcome::Failed: reportFailure(NotSaved, error); return;
    case ContactSaving::Outcome::Declined: return;
    case ContactSaving::Outcome::Stored: break;
    }
    m_ui.codeLabel->setText(QString::number(record.cd));
    // What is stored now is what the screen holds.
    m_form.rememberStored(record);
    m_hooks.refreshAfterWrite();
    MessageBoxes::notice(m_window, m_title, SavedNotice);
}

void ContactCommands::remove()
{
    if (m_saving)
        return;
    if (m_ui.codeLabel->text().isEmpty()) {
        MessageBoxes::notice(m_window, m_title, PickFirst);
        m_ui.name->setFocus();
        return;
    }
    // The answer acts on the contact asked about, whatever comes while the
    // question is open.
    const qint64 code = m_ui.codeLabel->text().toLongLong();
    const QString name = m_ui.name->text();
    if (!MessageBoxes::confirm(m_window, m_title, ConfirmDelete + QStringLiteral("\n\n") + name))
        return;
    auto removed = std::make_shared<std::pair<bool, QString>>();
    auto finish = [this, removed] {
        setSaving(false);
        if (!removed->first) {
            reportFailure(QStringLiteral("Não foi possível apagar o contato."), removed->second);
            return;
        }
        m_hooks.clearForm(); // lists and counts again
    };
    // On a server across town the form waits, read-only, as for a save.
    setSaving(true);
    if (far()) {
        m_errand->run(
            [reg = m_register, code, removed] { removed->first = reg->remove(code, &removed->second); }, finish);
        return;
    }
    removed->first = m_register->remove(code, &removed->second);
    finish();
}

void ContactCommands::pickRow()
{
    const QModelIndex code = m_ui.grid->model()->index(m_ui.grid->currentIndex().row(), ContactListModel::Code);
    if (code.isValid())
        m_ui.grid->setCurrentIndex(code);
    m_ui.codeLabel->setText(code.data().toString());
    loadPicked();
}

void ContactCommands::loadPicked()
{
    if (m_ui.codeLabel->text().isEmpty())
        return;
    const qint64 code = m_ui.codeLabel->text().toLongLong();
    struct Pick
    {
        bool ok = false;
        std::optional<ContactRecord> found;
        QString error;
    };
    auto pick = std::make_shared<Pick>();
    auto show = [this, code, pick] {
        // A server across town answers later: shown only while the contact
        // is still the one picked.
        if (m_ui.codeLabel->text().toLongLong() != code)
            return;
        if (!pick->ok)
            reportFailure(
                QStringLiteral("Não foi possível ler o contato escolhido; o que está na tela continua."), pick->error);
        else if (pick->found)
            m_form.show(*pick->found, true);
    };
    if (far()) {
        m_errand->run(
            [reg = m_register, code, pick] { pick->ok = reg->findByCode(code, &pick->found, &pick->error); }, show);
        return;
    }
    pick->ok = m_register->findByCode(code, &pick->found, &pick->error);
    show();
}
