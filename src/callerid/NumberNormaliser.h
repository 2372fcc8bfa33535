#pragma once

#include <QString>

// Turns the digits a line sends into the number the register knows: the
// caller category and a long-distance prefix (0 + carrier) taken off, the local
// area code put in front of a local number (7 or 8 digits), digits only.
namespace NumberNormaliser {

QString normalise(const QString &received, const QString &localAreaCode);

} // namespace NumberNormaliser
