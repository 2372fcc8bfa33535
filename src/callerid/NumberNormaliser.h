#pragma once

#include <QString>

// Turns the digits a line sends into the number the register looks up: the
// caller category taken off, then the key of a telephone number (the
// long-distance prefix and a carrier's code dropped, the local area code put
// in front of a local number), digits only. Text that is not a number comes
// back as its ASCII digits.
namespace NumberNormaliser {

QString normalise(const QString &received, const QString &localAreaCode);

} // namespace NumberNormaliser
