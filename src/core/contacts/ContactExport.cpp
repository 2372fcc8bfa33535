#include "core/contacts/ContactExport.h"

#include "core/contacts/ContactCsv.h"
#include "core/contacts/ContactVCard.h"
#include "core/contacts/Register.h"
#include "core/platform/DurableFile.h"

#include <QFileInfo>
#include <QSaveFile>

namespace ContactExport {

bool write(Register &reg, const QString &path, qint64 *written, QString *error,
    const std::function<void(qint64, qint64)> &progress)
{
    const bool vcard = path.endsWith(QLatin1String(".vcf"), Qt::CaseInsensitive);
    qint64 total = 0;
    if (!reg.count(&total, error))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("Não foi possível criar o arquivo %1.\nDetalhe: %2").arg(path, file.errorString());
        return false;
    }
    if (!vcard)
        file.write(ContactCsv::header().toUtf8());
    *written = 0;
    const bool read = reg.forEachContact(
        [&](const ContactRecord &r) {
            const QString text = vcard ? ContactVCard::card(r) : ContactCsv::row(r);
            if (file.write(text.toUtf8()) < 0)
                return false;
            if (++*written % 1000 == 0 && progress)
                progress(*written, total);
            return true;
        },
        error);
    if (!read || file.error() != QFileDevice::NoError || !file.commit()) {
        if (read || error->isEmpty())
            *error = QStringLiteral("Não foi possível gravar o arquivo %1.\nDetalhe: %2").arg(path, file.errorString());
        file.cancelWriting();
        return false;
    }
    QString detail;
    DurableFile::syncFolder(QFileInfo(path).absolutePath(), &detail);
    return true;
}

} // namespace ContactExport
