#pragma once

#include <QString>

#include <functional>

class Register;

// Every contact of the register written to a file: CSV for a name ending in
// .csv, vCard 4.0 for one ending in .vcf. The file appears only once it is
// whole (written beside it, then renamed).
namespace ContactExport {

bool write(Register &reg, const QString &path, qint64 *written, QString *error,
    const std::function<void(qint64 done, qint64 total)> &progress = {});

} // namespace ContactExport
