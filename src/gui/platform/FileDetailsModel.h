#pragma once

#include <QIdentityProxyModel>

// What Qt's file dialog lists, with the size and the modification time of
// each file written the Brazilian way ("2,93 KiB", "08/12/2026 09:30").
// Qt's own model writes them in the system locale, which is English or C on
// many desks whatever the program's language.
class FileDetailsModel : public QIdentityProxyModel
{
    Q_OBJECT

public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex &index, int role) const override;
};
