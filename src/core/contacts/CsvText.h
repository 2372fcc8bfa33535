#pragma once

#include <QString>

// Text in CSV files that spreadsheets open. A cell that begins with = + - @,
// a tab or a carriage return is taken by a spreadsheet as a formula (and may
// run one); written with an apostrophe in front, it shows as the text it is.
namespace CsvText {

// The text made safe to open in a spreadsheet: an apostrophe in front of a
// cell a spreadsheet would read as a formula, and in front of one that
// begins with an apostrophe already, so that restored() gives back the text.
QString neutralised(const QString &text);
// The text that neutralised() was given.
QString restored(const QString &text);
// A field as CSV has it: neutralised, and quoted when it holds the separator,
// a quote or a line break.
QString field(const QString &text, QChar separator = QLatin1Char(','));

} // namespace CsvText
