#pragma once

#include <QString>

// The data folder holds the register, the area-code file, site.txt and the
// caller-ID settings. File names in it are matched without regard to letter
// case, as files brought over from the original platform come in any case.
namespace DataFolder {

// The folder to use: `explicitDir` when given; else the executable's folder when
// it holds site.txt (a portable install); else the per-user data folder.
QString locate(const QString &explicitDir);

// Full path of the entry of `dir` whose name equals `name` ignoring letter case
// (an exact match wins over others); empty when there is none.
QString findFile(const QString &dir, const QString &name);

// The existing file's path in whatever case it has on disk, or dir/name.
QString pathFor(const QString &dir, const QString &name);

// The register is personal data: what Zuna creates is for its user alone.
// Makes a folder or file readable and writable by its owner only.
bool makePrivate(const QString &path);
// Of `paths`, those that other users of the machine can read or enter.
QStringList readableByOthers(const QStringList &paths);

} // namespace DataFolder
