#include "gui/app/ContactForm.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

ContactForm::ContactForm(const MainWindowControls &ui)
    : m_ui(ui)
{
}

QString ContactForm::fieldText(const QObject *field, const QString &shown) const
{
    const auto loaded = m_loaded.constFind(field);
    if (loaded == m_loaded.cend())
        return shown;
    if (shown == loaded->shown)
        return loaded->stored;
    if (field == m_ui.notes && loaded->stored.contains(QLatin1String("\r\n")))
        return QString(shown).replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return shown;
}

ContactRecord ContactForm::record() const
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

bool ContactForm::hasUnsavedTyping() const
{
    // Changed from what the window put there: typed into an empty field, or a
    // loaded value edited or emptied.
    auto changed = [this](const QObject *field, const QString &text) {
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

void ContactForm::show(const ContactRecord &contact, bool withTelephone)
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

void ContactForm::rememberStored(const ContactRecord &record)
{
    m_loadedRecord = record;
    const std::pair<QLineEdit *, const QString &> fields[] = {
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
        m_loaded.insert(field, { value, field->text() });
    m_loaded.insert(m_ui.notes, { record.ob, m_ui.notes->toPlainText() });
}

void ContactForm::takeTelephoneAsShown()
{
    m_loaded.insert(m_ui.phone, { m_ui.phone->text(), m_ui.phone->text() });
}

const ContactRecord *ContactForm::asLoaded(qint64 code) const
{
    return m_loadedRecord && m_loadedRecord->cd == code ? &*m_loadedRecord : nullptr;
}

void ContactForm::forgetStored()
{
    m_loadedRecord.reset();
}

void ContactForm::forget()
{
    m_loaded.clear();
    m_loadedRecord.reset();
}

void ContactForm::empty()
{
    forget();
    m_ui.notes->clear();
    m_ui.codeLabel->clear();
    m_ui.incomingNumber->clear();
    for (QLineEdit *field :
        { m_ui.phone, m_ui.name, m_ui.address, m_ui.complement, m_ui.district, m_ui.city, m_ui.state, m_ui.postcode })
        field->clear();
}
