#pragma once

#include "core/contacts/ContactRecord.h"

#include <QString>

// One contact read from a file to import: where it starts in the file (line,
// from 1) and, for a row that cannot be read whole, why.
struct ImportRow
{
    int line = 0;
    ContactRecord record;
    QString damage; // empty: the row is whole
};
