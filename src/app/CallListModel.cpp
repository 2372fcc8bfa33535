#include "app/CallListModel.h"

#include "contacts/Register.h"

#include <QFont>

CallListModel::CallListModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

bool CallListModel::setFilter(const CallFilter &filter, QString *error)
{
    QList<CallRecord> rows;
    if (!m_register || !m_register->listCalls(filter, 0, PageSize, &rows, error))
        return false;
    beginResetModel();
    m_filter = filter;
    m_rows = rows;
    m_atEnd = rows.size() < PageSize;
    endResetModel();
    return true;
}

void CallListModel::setNewCalls(const QSet<qint64> &ids)
{
    m_new = ids;
    if (!m_rows.isEmpty())
        emit dataChanged(index(0, 0), index(int(m_rows.size()) - 1, ColumnCount - 1));
}

int CallListModel::rowOf(qint64 id) const
{
    for (int r = 0; r < m_rows.size(); ++r) {
        if (m_rows.at(r).id == id)
            return r;
    }
    return -1;
}

int CallListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int CallListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CallListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const CallRecord &c = m_rows.at(index.row());
    const bool isNew = m_new.contains(c.id);
    if (role == Qt::FontRole && isNew) {
        QFont bold;
        bold.setBold(true);
        return bold;
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (Column(index.column())) {
    case New: return isNew ? QStringLiteral("nova") : QString();
    case Date: return c.when.toString(QStringLiteral("dd/MM/yyyy"));
    case Time: return c.when.toString(QStringLiteral("HH:mm:ss"));
    case Number: return c.laidOut;
    case Name: return c.contactCode > 0 ? c.contactName : c.callerName;
    case InRegister: return c.contactCode > 0 ? QStringLiteral("sim") : QStringLiteral("não");
    case ColumnCount: break;
    }
    return {};
}

QVariant CallListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char *const Headers[] = { "", "Data", "Hora", "Telefone", "Nome", "Cadastrado" };
    return section >= 0 && section < ColumnCount ? QString::fromUtf8(Headers[section]) : QVariant();
}

bool CallListModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && !m_atEnd;
}

void CallListModel::fetchMore(const QModelIndex &parent)
{
    if (parent.isValid() || m_atEnd || m_rows.isEmpty())
        return;
    QList<CallRecord> rows;
    QString error;
    if (!m_register->listCalls(m_filter, m_rows.constLast().id, PageSize, &rows, &error)) {
        m_atEnd = true; // read again on the next refresh
        emit readFailed(error);
        return;
    }
    m_atEnd = rows.size() < PageSize;
    if (rows.isEmpty())
        return;
    beginInsertRows({}, int(m_rows.size()), int(m_rows.size() + rows.size()) - 1);
    m_rows.append(rows);
    endInsertRows();
}
