#include "core/platform/GzipFile.h"

#include "core/platform/DurableFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <zlib.h>

namespace {

constexpr qint64 BufferBytes = 1 << 20;
// Level 1: a register's text packs nearly as well as at the default level,
// at a third of the time, and the copy is made while the attendant works.
constexpr char WriteMode[] = "wb1";

bool fail(QString *error, const QString &text, QFile *remove = nullptr)
{
    if (error)
        *error = text;
    if (remove) {
        remove->close();
        remove->remove();
    }
    return false;
}

QString gzError(gzFile file)
{
    int code = Z_OK;
    const char *text = gzerror(file, &code);
    return code == Z_ERRNO ? QString::fromLocal8Bit(strerror(errno)) : QString::fromUtf8(text);
}

} // namespace

namespace GzipFile {

bool compress(const QString &plain, const QString &target, QString *error, const Progress &progress)
{
    QFile in(plain);
    if (!in.open(QIODevice::ReadOnly))
        return fail(error, in.errorString());
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(error, out.errorString());
    // zlib writes through its own descriptor; QFile keeps the name for removal.
    gzFile gz = gzdopen(dup(out.handle()), WriteMode);
    if (!gz)
        return fail(error, QStringLiteral("zlib não abriu o arquivo"), &out);
    QByteArray buffer(BufferBytes, Qt::Uninitialized);
    qint64 done = 0;
    for (;;) {
        const qint64 n = in.read(buffer.data(), buffer.size());
        if (n < 0) {
            gzclose(gz);
            return fail(error, in.errorString(), &out);
        }
        if (n == 0)
            break;
        if (gzwrite(gz, buffer.constData(), unsigned(n)) != int(n)) {
            const QString why = gzError(gz);
            gzclose(gz);
            return fail(error, why, &out);
        }
        done += n;
        if (progress)
            progress(done);
    }
    if (gzclose(gz) != Z_OK)
        return fail(error, QString::fromLocal8Bit(strerror(errno)), &out);
    out.close();
    QString why;
    if (!DurableFile::sync(target, &why))
        return fail(error, why, &out);
    return true;
}

bool decompress(const QString &packed, const QString &target, QString *error, const Progress &progress)
{
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(error, out.errorString());
    gzFile gz = gzopen(QFile::encodeName(packed).constData(), "rb");
    if (!gz)
        return fail(error, QString::fromLocal8Bit(strerror(errno)), &out);
    QByteArray buffer(BufferBytes, Qt::Uninitialized);
    for (;;) {
        const int n = gzread(gz, buffer.data(), unsigned(buffer.size()));
        if (n < 0) {
            int code = Z_OK;
            gzerror(gz, &code);
            const QString why = code == Z_BUF_ERROR
                ? QStringLiteral("o arquivo compactado está incompleto")
                : QStringLiteral("o arquivo compactado está danificado: %1").arg(gzError(gz));
            gzclose(gz);
            return fail(error, why, &out);
        }
        if (n == 0)
            break;
        if (out.write(buffer.constData(), n) != n) {
            gzclose(gz);
            return fail(error, out.errorString(), &out);
        }
        if (progress)
            progress(gzoffset(gz));
    }
    // A file cut short reads as its end: zlib says so only here.
    const int closed = gzclose(gz);
    if (closed != Z_OK)
        return fail(error,
            closed == Z_BUF_ERROR ? QStringLiteral("o arquivo compactado está incompleto")
                                  : QStringLiteral("o arquivo compactado está danificado"),
            &out);
    if (!out.flush())
        return fail(error, out.errorString(), &out);
    out.close();
    QString why;
    if (!DurableFile::sync(target, &why))
        return fail(error, why, &out);
    return true;
}

bool isGzip(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(2) == QByteArray("\x1f\x8b", 2);
}

} // namespace GzipFile
