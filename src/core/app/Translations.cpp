#include "core/app/Translations.h"

#include "core/app/QtTextsSupplement.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

// qtbase holds every text Qt Widgets shows; the "qt_pt_BR" meta-catalogue only
// names it and the catalogues of modules Zuna does not use.
const QString CatalogueName = QStringLiteral("qtbase_pt_BR");

} // namespace

QString Translations::catalogue()
{
    return QDir(QLibraryInfo::path(QLibraryInfo::TranslationsPath)).filePath(CatalogueName + QStringLiteral(".qm"));
}

bool Translations::installPortuguese(QCoreApplication &app, QString *error)
{
    auto *translator = new QTranslator(&app);
    if (!translator->load(catalogue()) || !QCoreApplication::installTranslator(translator)) {
        delete translator;
        if (error)
            *error = QStringLiteral("não foi possível ler %1 (pacote qt6-translations-l10n)").arg(catalogue());
        return false;
    }
    // Asked before Qt's catalogue, for the few texts it lacks.
    QCoreApplication::installTranslator(new QtTextsSupplement(&app));
    // Qt's texts that come from elsewhere follow the default locale too: the
    // file types the file dialog names come from the MIME database.
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    return true;
}
