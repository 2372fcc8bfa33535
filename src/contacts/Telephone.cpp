#include "contacts/Telephone.h"

namespace Telephone {

QString layout(const QString &text)
{
    // The 9-character result is 12 long, so the second test cannot apply to it.
    QString result = text;
    if (result.size() == 9)
        result = QLatin1Char('(') + result.left(2) + QLatin1Char(')') + result.mid(2, 3) + QLatin1Char('-') + result.mid(5, 4);
    if (result.size() == 10)
        result = QLatin1Char('(') + result.left(2) + QLatin1Char(')') + result.mid(2, 4) + QLatin1Char('-') + result.mid(6, 4);
    return result;
}

} // namespace Telephone
