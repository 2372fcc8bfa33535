#include "core/app/SiteFile.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace SiteFile {

QString decode(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    QStringDecoder cp1252("windows-1252");
    if (cp1252.isValid())
        return cp1252(bytes);
    return QString::fromLatin1(bytes);
}

bool readSiteName(const QString &path, QString *name, QString *error)
{
    QFile file(path);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Não foi possível ler o arquivo com o nome do local.\nArquivo: %1\nDetalhe: %2")
                     .arg(QFileInfo(path).absoluteFilePath(),
                         QFileInfo(path).isDir() ? QStringLiteral("é uma pasta") : file.errorString());
        return false;
    }
    const QString text = decode(file.readAll());
    if (text.isEmpty()) {
        *name = QFileInfo(path).absoluteFilePath();
        return true;
    }
    // Drop the final break, then take what follows the last remaining break.
    qsizetype end = text.size();
    if (text.endsWith(QLatin1String("\r\n")))
        end -= 2;
    else if (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
        end -= 1;
    qsizetype start = end;
    while (start > 0 && text.at(start - 1) != QLatin1Char('\n') && text.at(start - 1) != QLatin1Char('\r'))
        --start;
    *name = text.mid(start, end - start);
    return true;
}

} // namespace SiteFile
