#pragma once

#include "core/contacts/CallRecord.h"
#include "core/contacts/ContactRecord.h"
#include "core/contacts/Register.h"

#include <QDateTime>

class QSqlQuery;

// A contact's and a call's columns, read from a row and bound to a statement
// the same way on every backend. Text is stored as empty, never as NULL, and
// NULL reads as empty text.
namespace SqlRows {

QString text(const QSqlQuery &query, int column);
// Columns: code, then the nine fields in table order.
ContactRecord readContact(const QSqlQuery &query);
void bindContact(QSqlQuery &query, const ContactRecord &record);
// Columns: code, name, telephone, address, city, state, sort key.
Register::ListRow readListRow(const QSqlQuery &query);
// Columns: id, the time (read by the backend, handed in as `when`), kind,
// received, key, laid out, caller name, source, line, contact code, name.
CallRecord readCall(const QSqlQuery &query, const QDateTime &when);
// Binds everything after the time: kind ... contact name, then the search text.
void bindCall(QSqlQuery &query, const CallRecord &call);

} // namespace SqlRows
