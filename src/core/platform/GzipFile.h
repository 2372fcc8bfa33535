#pragma once

#include <QString>

#include <functional>

// gzip files (RFC 1952) through zlib: what gzip, zcat and every archive tool
// read, written a buffer at a time so that a large register never has to fit
// in memory (Qt's qCompress makes zlib's own format with a length in front,
// which no other tool reads, and only from a whole buffer).
namespace GzipFile {

// Told the bytes read from the input so far.
using Progress = std::function<void(qint64 done)>;

// Writes `plain` compressed to `target` (replaced when it exists) and flushes
// it to the disk. On a failure `target` is removed.
bool compress(const QString &plain, const QString &target, QString *error, const Progress &progress = {});
// Writes the contents of the gzip file `packed` to `target`, flushed to the
// disk. A truncated or damaged file is a failure; `target` is then removed.
bool decompress(const QString &packed, const QString &target, QString *error, const Progress &progress = {});
// Whether the file begins as a gzip file does.
bool isGzip(const QString &path);

} // namespace GzipFile
