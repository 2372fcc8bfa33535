#pragma once

#include <QString>

// One row of the contact table CADA. Text columns are kept exactly as typed;
// a NULL column reads as empty text.
struct ContactRecord
{
    qint64 cd = 0; // 0 while the contact is not stored
    QString a1; // name
    QString a4; // telephone, "(AA)NNNN-NNNN"
    QString a9; // street address
    QString a10; // complement
    QString a11; // district
    QString a12; // city
    QString a13; // state
    QString a14; // postcode
    QString ob; // notes

    bool operator==(const ContactRecord &) const = default;
};
