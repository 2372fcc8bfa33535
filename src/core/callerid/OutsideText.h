#pragma once

#include <QString>

// Text that comes from outside Zuna (a caller's name from the line, a
// server's reply in a status) made fit to be shown: plain, short, one look.
// Control characters become blanks; format characters (zero-width, bidi
// embeddings, overrides and isolates, soft hyphen) and characters that draw
// nothing (variation selectors, unassigned, private use) go; blank
// look-alikes (braille blank, Hangul fillers, the Unicode spaces) count as
// blanks; a run of blanks is one space, none at either end; a character keeps
// at most MaxMarks combining marks. What is left is capped, "…" saying so.
// Whatever a sender puts in, the text cannot move, hide or push aside what
// is shown next to it.
namespace OutsideText {

// 40 characters: the name fields of caller-ID lines hold 15 to 20, and SIP
// display names are as short in practice; 40 keeps every real person's or
// firm's name whole, and no padded or flooding name can take the display
// beside the number or the calls window's column.
constexpr qsizetype MaxNameLength = 40;
// A status or message: each line capped, at most a few lines.
constexpr qsizetype MaxLineLength = 200;
constexpr qsizetype MaxLines = 4;
constexpr int MaxMarks = 3;

// A caller's name as one line of at most MaxNameLength characters.
QString name(const QString &text);
// A status or message: its line breaks kept, each line cleaned and capped.
QString message(const QString &text);
// A name set apart from the number beside it: “NAME”, its own double quotes
// turned into single ones so that it cannot close the quote early.
QString quoted(const QString &name);
// For a terminal or a spreadsheet: control and format characters written
// out (\x1b, \u{202e}), so that nothing is left that a terminal would act on
// or that would turn the text around. With `keepLineBreaks`, tab, CR and LF
// stay (a CSV field carries them quoted).
QString escaped(const QString &text, bool keepLineBreaks = false);
// A tooltip that shows the text as it is: a text a tooltip would take for
// rich text comes back as HTML that shows it literally.
QString toolTip(const QString &text);

} // namespace OutsideText
