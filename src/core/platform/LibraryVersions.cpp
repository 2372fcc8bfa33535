#include "core/platform/LibraryVersions.h"

#include <QtGlobal>

#include <re.h>
#include <sndfile.h>
#include <spandsp/version.h>
#include <sqlite3.h>

#include <dlfcn.h>

namespace LibraryVersions {

namespace {

// libpq is loaded by Qt's PostgreSQL driver, not linked by Zuna: its version
// is asked of the library on the machine, when there is one.
QString libpqVersion()
{
    void *handle = dlopen("libpq.so.5", RTLD_LAZY | RTLD_LOCAL);
    if (!handle)
        return QStringLiteral("não instalada");
    QString version = QStringLiteral("desconhecida");
    using VersionFunction = int (*)();
    if (auto function = reinterpret_cast<VersionFunction>(dlsym(handle, "PQlibVersion"))) {
        // 150005 is 15.5; before version 10, 90624 was 9.6.24.
        const int v = function();
        version = v >= 100000 ? QStringLiteral("%1.%2").arg(v / 10000).arg(v % 10000)
                              : QStringLiteral("%1.%2.%3").arg(v / 10000).arg(v / 100 % 100).arg(v % 100);
    }
    dlclose(handle);
    return version;
}

QString builtWith(const char *version)
{
    return QStringLiteral("%1 (na compilação)").arg(QString::fromLatin1(version));
}

} // namespace

QList<Library> all()
{
    QList<Library> libraries;
    libraries.append({ QStringLiteral("Qt"), QString::fromLatin1(qVersion()) });
    libraries.append({ QStringLiteral("SQLite"), QString::fromLatin1(sqlite3_libversion()) });
    libraries.append({ QStringLiteral("libpq (PostgreSQL)"), libpqVersion() });
    libraries.append(
        { QStringLiteral("spandsp"), builtWith(ZUNA_SPANDSP_VERSION " de " SPANDSP_RELEASE_DATETIME_STRING) });
    QString sndfile = QString::fromLatin1(sf_version_string());
    sndfile.remove(QStringLiteral("libsndfile-"));
    libraries.append({ QStringLiteral("libsndfile"), sndfile });
    libraries.append({ QStringLiteral("libre"), QString::fromLatin1(sys_libre_version_get()) });
    libraries.append({ QStringLiteral("mdbtools"), builtWith(ZUNA_MDB_VERSION) });
    return libraries;
}

} // namespace LibraryVersions
