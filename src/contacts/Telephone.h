#pragma once

#include <QString>

namespace Telephone {

// The stored telephone layout, decided by length alone: 9 characters become
// "(AA)BBB-CCCC", 10 become "(AA)BBBB-CCCC", anything else is left as it is.
// Used for typed and incoming numbers alike so that both compare equal.
QString layout(const QString &text);

} // namespace Telephone
