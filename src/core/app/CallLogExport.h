#pragma once

#include <QDate>
#include <QString>

class QTextStream;
class Register;

// The call log for scripts: oldest first, as text columns for a reader or as
// CSV (RFC 4180, UTF-8, a header row) for a program. What callers and lines
// sent cannot be turned against the reader: control and format characters
// are written out (\x1b, \u{202e}) in both, and no CSV cell can start a
// formula in a spreadsheet.
namespace CallLogExport {

inline const QString CsvHeader
    = QStringLiteral("data,hora,telefone,recebido,chave,tipo,nome_na_linha,fonte,linha,codigo_contato,nome_contato");

// Writes every call since `since` (all when invalid); false, with the
// reason, when the log cannot be read.
bool write(Register &reg, const QDate &since, bool csv, QTextStream &out, QString *error);

// A field as CSV has it: quoted when it holds a comma, a quote or a line break.
QString csvField(const QString &text);
// A cell of the exported log: control and format characters written out
// (tab and line breaks kept, quoted), and a cell that would start a formula
// (=, +, -, @, tab, CR first) given a leading single quote, unless it is a
// telephone number as written ("+55 11 3333-4444"); then the field as CSV
// has it.
QString csvCell(const QString &text);

} // namespace CallLogExport
