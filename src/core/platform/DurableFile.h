#pragma once

#include <QString>

// Files that must survive a power cut or a kill at any moment: written beside
// their final name, flushed to the disk, then renamed over it, so that a
// reader finds either the old file or the new one whole, never a part.
namespace DurableFile {

// Flushes a file's contents to the disk (fsync).
bool sync(const QString &path, QString *error);
// Flushes a folder's entries (a rename, a new or removed file) to the disk.
bool syncFolder(const QString &dir, QString *error);
// Flushes `from`, renames it to `to` (replacing it) and flushes the folder.
bool replace(const QString &from, const QString &to, QString *error);

} // namespace DurableFile
