#include "gui/platform/FileDetailsModel.h"

#include <QFileSystemModel>
#include <QLocale>

namespace {

// The columns of QFileSystemModel.
enum Column { Name, Size, Type, Modified };

} // namespace

QVariant FileDetailsModel::data(const QModelIndex &index, int role) const
{
    const auto *files = qobject_cast<const QFileSystemModel *>(sourceModel());
    if (!files || role != Qt::DisplayRole || (index.column() != Size && index.column() != Modified))
        return QIdentityProxyModel::data(index, role);
    const QModelIndex source = mapToSource(index);
    const QLocale brazil(QLocale::Portuguese, QLocale::Brazil);
    if (index.column() == Modified)
        return brazil.toString(files->lastModified(source), QLocale::ShortFormat);
    if (files->isDir(source))
        return QString();
    return brazil.formattedDataSize(files->size(source));
}
