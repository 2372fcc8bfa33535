#include "gui/app/ContactSaving.h"

#include "core/contacts/Register.h"
#include "gui/platform/MessageBoxes.h"

#include <optional>
#include <utility>

namespace {

// The question put when the contact being saved was changed at another desk
// since this one showed it: the other desk's values, caption by caption.
QString changedElsewhereQuestion(const ContactRecord &fresh)
{
    const std::pair<const char *, const QString &> fields[] = {
        { "Telefone", fresh.a4 },
        { "Nome", fresh.a1 },
        { "Endereço", fresh.a9 },
        { "Complemento", fresh.a10 },
        { "Bairro", fresh.a11 },
        { "Cidade", fresh.a12 },
        { "UF", fresh.a13 },
        { "CEP", fresh.a14 },
        { "Observações", fresh.ob },
    };
    QString text = QStringLiteral("Este contato foi alterado em outro atendimento depois que apareceu nesta tela. "
                                  "Agora ele está assim:\n");
    for (const auto &[caption, value] : fields)
        text += QStringLiteral("\n%1: %2").arg(QString::fromUtf8(caption), value);
    text += QStringLiteral("\n\nGravar por cima o que está nesta tela?\n"
                           "(Não: nada é gravado e o que foi digitado continua na tela.)");
    return text;
}

} // namespace

ContactSaving::ContactSaving(Register &reg, QWidget *asker, QString title)
    : m_register(reg)
    , m_asker(asker)
    , m_title(std::move(title))
{
}

ContactSaving::Outcome ContactSaving::save(ContactRecord *record, const ContactRecord *asLoaded, QString *error)
{
    switch (write(m_register, record, asLoaded, error)) {
    case Written::Failed: return Outcome::Failed;
    case Written::Stored: break;
    case Written::ChangedElsewhere: return settleChangedElsewhere(record, error);
    }
    return Outcome::Stored;
}

ContactSaving::Written ContactSaving::write(
    Register &reg, ContactRecord *record, const ContactRecord *asLoaded, QString *error)
{
    if (record->cd != 0) {
        Register::Saved saved = Register::Saved::Missing;
        if (!reg.update(*record, asLoaded, &saved, error))
            return Written::Failed;
        if (saved == Register::Saved::ChangedElsewhere)
            return Written::ChangedElsewhere;
        if (saved == Register::Saved::Updated)
            return Written::Stored;
    }
    // A new contact, or one whose row was deleted at another desk meanwhile:
    // a new row, which the next save updates instead of adding a copy.
    qint64 code = 0;
    if (!reg.insert(*record, &code, error))
        return Written::Failed;
    record->cd = code;
    return Written::Stored;
}

ContactSaving::Outcome ContactSaving::settleChangedElsewhere(ContactRecord *record, QString *error)
{
    bool stored = false;
    const Outcome asked = overwriteChangedElsewhere(*record, &stored, error);
    if (asked != Outcome::Stored || stored)
        return asked;
    // Deleted there meanwhile: stored as a new row.
    qint64 code = 0;
    if (!m_register.insert(*record, &code, error))
        return Outcome::Failed;
    record->cd = code;
    return Outcome::Stored;
}

ContactSaving::Outcome ContactSaving::overwriteChangedElsewhere(
    const ContactRecord &record, bool *stored, QString *error)
{
    // The other desk's values are shown beside the question; nothing on the
    // form changes, whatever the answer.
    for (;;) {
        std::optional<ContactRecord> fresh;
        if (!m_register.findByCode(record.cd, &fresh, error))
            return Outcome::Failed;
        if (!fresh) { // deleted there meanwhile: stored as new
            *stored = false;
            return Outcome::Stored;
        }
        if (!MessageBoxes::confirmDefaultNo(m_asker, m_title, changedElsewhereQuestion(*fresh)))
            return Outcome::Declined;
        Register::Saved saved = Register::Saved::Missing;
        if (!m_register.update(record, &*fresh, &saved, error))
            return Outcome::Failed;
        if (saved != Register::Saved::ChangedElsewhere) {
            *stored = saved == Register::Saved::Updated;
            return Outcome::Stored;
        }
        // Changed there once more while the question was open: ask again,
        // with the newest values.
    }
}
