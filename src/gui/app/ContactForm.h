#pragma once

#include "core/contacts/ContactRecord.h"
#include "gui/app/MainWindowLayout.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <optional>

// The contact the window's form shows, and what of it the attendant changed.
// For each field it keeps the value as stored and the text the field shows
// for it, so that what was not edited is stored back exactly as it was read
// (a notes box joins CR LF, a field with a maximum length cuts a longer
// value); and the stored contact as it was read, for telling whether another
// desk changed it before the save.
class ContactForm
{
public:
    // The window's controls; they outlive the form.
    explicit ContactForm(const MainWindowControls &ui);

    // The fields as a contact to store (its code not set).
    ContactRecord record() const;
    // Some field holds text that is not what the window put there (loaded
    // from the register, or the number of a call).
    bool hasUnsavedTyping() const;
    // Puts a stored contact into the fields, in the window's order; the
    // telephone field only `withTelephone`.
    void show(const ContactRecord &contact, bool withTelephone);
    // What is on the form now is what the register holds.
    void rememberStored(const ContactRecord &record);
    // The telephone field's text is the window's own (a call's number), not
    // typing.
    void takeTelephoneAsShown();
    // The stored contact as it was read, while it is the one of this code.
    const ContactRecord *asLoaded(qint64 code) const;
    // The form no longer shows a stored contact; the fields stay as they are.
    void forgetStored();
    void forget();
    // Every field, the code label and Text1 emptied, nothing remembered.
    void empty();

private:
    QString fieldText(const QObject *field, const QString &shown) const;

    const MainWindowControls &m_ui;
    struct Loaded
    {
        QString stored;
        QString shown;
    };
    QHash<const QObject *, Loaded> m_loaded;
    std::optional<ContactRecord> m_loadedRecord;
};
