#pragma once

#include <QByteArray>
#include <QString>

// Text files as other programs write them: UTF-8 with or without a byte-order
// mark, UTF-16 with one, or else Windows-1252 (spreadsheets and older
// programs on Windows).
namespace TextDecoding {

// The text, and in `encoding` the name of the encoding it was read in.
QString decode(const QByteArray &bytes, QString *encoding = nullptr);
QString fromWindows1252(QByteArrayView bytes);

} // namespace TextDecoding
