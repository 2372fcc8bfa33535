#pragma once

#include "core/contacts/ContactRecord.h"

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

    // What the first write of a save met.
    enum class Written { Stored, ChangedElsewhere, Failed };
    // A save's first write, asking nothing, on any thread: the row rewritten
    // while it holds `asLoaded`, or a new row when `record->cd` is 0 or its
    // row was deleted at another desk.
    static Written write(Register &reg, ContactRecord *record, const ContactRecord *asLoaded, QString *error);
    // The rest of a save whose first write met the row changed at another
    // desk: the attendant is asked, and on Yes it is stored.
    Outcome settleChangedElsewhere(ContactRecord *record, QString *error);

private:
    // The row changed at another desk: asked, and rewritten on Yes. `stored`
    // false: it was deleted there, to be stored as new.
    Outcome overwriteChangedElsewhere(const ContactRecord &record, bool *stored, QString *error);

    Register &m_register;
    QWidget *m_asker;
    QString m_title;
};
