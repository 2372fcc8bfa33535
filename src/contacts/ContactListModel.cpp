#include "contacts/ContactListModel.h"

ContactListModel::ContactListModel(const QString &filePath, QObject *parent)
    : QAbstractTableModel(parent)
    , m_store(filePath)
{
}

ContactListModel::~ContactListModel() = default;

bool ContactListModel::openConnection(QString *error)
{
    if (m_connection)
        return true;
    auto connection = std::make_unique<SqlConnection>(m_store.filePath());
    if (!connection->isOpen()) {
        return sqlFailure(error, QStringLiteral("Não foi possível abrir o cadastro de contatos."), m_store.filePath(),
            connection->errorText());
    }
    m_connection = std::move(connection);
    return true;
}

bool ContactListModel::refresh(QString *error)
{
    m_pattern = {};
    return reload(error);
}

bool ContactListModel::search(const QString &typedName, QString *error)
{
    m_pattern = NamePattern::fromTyped(typedName);
    return reload(error);
}

bool ContactListModel::reload(QString *error)
{
    if (!openConnection(error))
        return false;
    QList<ContactStore::ListRow> page;
    const bool ok = m_store.listPage(m_connection->database(), m_pattern, nullptr, PageSize, &page, error);
    beginResetModel();
    m_rows = ok ? page : QList<ContactStore::ListRow>();
    m_atEnd = !ok || page.size() < PageSize;
    endResetModel();
    return ok;
}

qint64 ContactListModel::codeAt(int row) const
{
    return row >= 0 && row < m_rows.size() ? m_rows.at(row).cd : 0;
}

int ContactListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ContactListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ContactListModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_rows.size())
        return {};
    const ContactStore::ListRow &row = m_rows.at(index.row());
    switch (index.column()) {
    case Code: return QString::number(row.cd);
    case Name: return row.a1;
    case Phone: return row.a4;
    case Address: return row.a9;
    case City: return row.a12;
    case State: return row.a13;
    default: return {};
    }
}

QVariant ContactListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return QString(); // the record selector shows no numbers
    static const QString captions[ColumnCount] = {
        QStringLiteral("Código"),
        QStringLiteral("Nome"),
        QStringLiteral("Telefone"),
        QStringLiteral("Endereço"),
        QStringLiteral("Cidade"),
        QStringLiteral("U.F."),
    };
    return section >= 0 && section < ColumnCount ? captions[section] : QVariant();
}

Qt::ItemFlags ContactListModel::flags(const QModelIndex &index) const
{
    // Contacts change only through the save button, never in the grid.
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

bool ContactListModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && !m_atEnd && m_connection;
}

void ContactListModel::fetchMore(const QModelIndex &parent)
{
    if (!canFetchMore(parent) || m_rows.isEmpty())
        return;
    QList<ContactStore::ListRow> page;
    QString error;
    const ContactStore::ListRow last = m_rows.constLast();
    if (!m_store.listPage(m_connection->database(), m_pattern, &last, PageSize, &page, &error)) {
        m_atEnd = true;
        emit failed(error);
        return;
    }
    m_atEnd = page.size() < PageSize;
    if (page.isEmpty())
        return;
    beginInsertRows({}, int(m_rows.size()), int(m_rows.size() + page.size() - 1));
    m_rows.append(page);
    endInsertRows();
}
