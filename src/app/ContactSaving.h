#pragma once

#include "contacts/ContactRecord.h"

#include <QString>

class QWidget;
class Register;

// Stores the contact on the form: a new row, or the loaded row rewritten
// only while it still holds what this desk showed. When another desk changed
// it since, the attendant sees that desk's values and chooses; when another
// desk deleted it, it is stored as a new row.
class ContactSaving
{
public:
    enum class Outcome { Stored, Declined, Failed };

    // `asker` owns the question, titled `title`.
    ContactSaving(Register &reg, QWidget *asker, QString title);

    // `record->cd` 0 stores a new contact; otherwise that row is rewritten
    // while it holds `asLoaded` (when given). Stored: `record->cd` names the
    // row that holds it now. Failed: `error` says why; nothing is lost on
    // the form.
    Outcome save(ContactRecord *record, const ContactRecord *asLoaded, QString *error);

private:
    // The row changed at another desk: asked, and rewritten on Yes. `stored`
    // false: it was deleted there, to be stored as new.
    Outcome overwriteChangedElsewhere(const ContactRecord &record, bool *stored, QString *error);

    Register &m_register;
    QWidget *m_asker;
    QString m_title;
};
