#include "core/contacts/CallRecord.h"

#include <iterator>

namespace {
// As stored: words, so that the log reads without this program.
const char *const KindNames[] = { "numero", "restrito", "indisponivel", "internacional", "ilegivel" };
} // namespace

QString CallRecord::kindName(Kind kind)
{
    return QString::fromLatin1(KindNames[int(kind)]);
}

CallRecord::Kind CallRecord::kindFromName(const QString &name)
{
    for (int i = 0; i < int(std::size(KindNames)); ++i) {
        if (name == QLatin1String(KindNames[i]))
            return Kind(i);
    }
    return Kind::Number;
}
