#pragma once

#include <QList>
#include <QString>

// The libraries Zuna runs on and their versions, for the About box and for
// fault reports: each as the library itself tells it at run time where it
// can, else as it was when Zuna was built (said so in the text).
namespace LibraryVersions {

struct Library
{
    QString name;
    QString version;
};

QList<Library> all();

} // namespace LibraryVersions
