#pragma once

#include "contacts/ContactStore.h"
#include "contacts/SqlConnection.h"

#include <QAbstractTableModel>
#include <QList>

#include <memory>

// The contact list behind the grid: read-only, in name order, fetched page by
// page as the grid scrolls. It keeps one connection for the whole run.
class ContactListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Code, Name, Phone, Address, City, State, ColumnCount };
    static constexpr int PageSize = 64;

    explicit ContactListModel(const QString &filePath, QObject *parent = nullptr);
    ~ContactListModel() override;

    // Lists every contact again from the first page.
    bool refresh(QString *error);
    // Lists the contacts whose names begin with what was typed.
    bool search(const QString &typedName, QString *error);

    qint64 codeAt(int row) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool canFetchMore(const QModelIndex &parent = {}) const override;
    void fetchMore(const QModelIndex &parent = {}) override;

signals:
    // A later page could not be read; the list stops where it is.
    void failed(const QString &error);

private:
    bool openConnection(QString *error);
    bool reload(QString *error);

    ContactStore m_store;
    std::unique_ptr<SqlConnection> m_connection;
    NamePattern m_pattern;
    QList<ContactStore::ListRow> m_rows;
    bool m_atEnd = true;
};
