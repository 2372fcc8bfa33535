#pragma once

#include <QString>

namespace SiteFile {

// The site name: the last line of the file at `path`. Lines end at CR, LF or
// CRLF; a last line without a break counts. A file without any line gives the
// path itself. The text is UTF-8 when it is valid UTF-8, else Windows-1252
// (files written on the original platform). False when the file cannot be read.
bool readSiteName(const QString &path, QString *name, QString *error);

// Decodes file text as readSiteName does.
QString decode(const QByteArray &bytes);

} // namespace SiteFile
