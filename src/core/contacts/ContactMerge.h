#pragma once

#include "core/contacts/ContactRecord.h"

// A contact read from a file joined into the stored contact with the same
// telephone. What the register holds is what the attendant typed, so it is
// never overwritten: an empty stored field takes the file's value; a stored
// field the file says otherwise keeps its value and the file's goes to the
// notes as "Importado, campo: valor"; the file's notes (where its other
// telephones are) are added line by line. A line the notes already hold is
// not added again, so that joining the same file twice changes nothing.
class ContactMerge
{
public:
    static ContactRecord merged(const ContactRecord &stored, const ContactRecord &imported);
};
