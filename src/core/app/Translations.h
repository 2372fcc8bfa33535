#pragma once

#include <QString>

class QCoreApplication;

namespace Translations {

// Qt's own texts (context menus, standard buttons, file dialogs) in Brazilian
// Portuguese, whatever the system locale, since every text of Zuna is
// Portuguese. Reads Debian's qt6-translations-l10n catalogue from Qt's
// translations folder and installs it on `app`. False, with the reason, when
// the catalogue is missing; Qt's texts then stay in English. Adds the few
// texts the catalogue lacks and makes Brazilian Portuguese the default locale.
bool installPortuguese(QCoreApplication &app, QString *error = nullptr);

// The catalogue installPortuguese reads, e.g. /usr/share/qt6/translations/qtbase_pt_BR.qm.
QString catalogue();

} // namespace Translations
