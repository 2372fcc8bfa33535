#pragma once

#include <QString>

namespace RegisterGenerator {

// Fills a new data folder (made as `zuna --init` does) with `count` contacts:
// Brazilian names with accents, telephones in the stored layout, addresses.
// The same seed gives the same register.
bool generate(const QString &dataDir, qint64 count, quint32 seed, QString *error);

} // namespace RegisterGenerator
