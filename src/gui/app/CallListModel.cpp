#include "gui/app/CallListModel.h"

#include "core/callerid/OutsideText.h"
#include "core/contacts/ContactListModel.h"
#include "core/contacts/ReaderWorker.h"

#include <QFont>

CallListModel::CallListModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

CallListModel::~CallListModel() = default;

void CallListModel::setRegister(Register *reg)
{
    m_worker.reset();
    m_reader.reset();
    m_register = reg;
}

bool CallListModel::setFilter(const CallFilter &filter, QString *error)
{
    if (!m_register)
        return false;
    ++m_generation;
    if (m_worker)
        m_worker->cancel(m_generation);
    setSearching(false);
    m_filter = filter;
    QList<CallRecord> rows;
    bool tooLong = false;
    if (!readPage(0, &rows, &tooLong, error) && !tooLong)
        return false;
    beginResetModel();
    m_rows = tooLong ? QList<CallRecord>() : rows;
    m_atEnd = tooLong || rows.size() < PageSize;
    endResetModel();
    if (tooLong)
        readPageInBackground(0);
    return true;
}

bool CallListModel::readPage(qint64 beforeId, QList<CallRecord> *rows, bool *tooLong, QString *error)
{
    if (!m_reader)
        m_reader = m_register->reader();
    if (!m_reader->isOpen(error))
        return false;
    Register::Limits limits;
    limits.budgetMs = ContactListModel::windowBudgetMs();
    limits.tooLong = tooLong;
    if (limits.budgetMs <= 0) {
        *tooLong = true;
        return false;
    }
    return m_reader->listCalls(m_filter, beforeId, PageSize, rows, error, limits);
}

void CallListModel::readPageInBackground(qint64 beforeId)
{
    if (!m_worker)
        m_worker = std::make_unique<ReaderWorker>(*m_register);
    setSearching(true);
    auto rows = std::make_shared<QList<CallRecord>>();
    m_worker->request(
        m_generation,
        [filter = m_filter, beforeId, rows](Register::Reader &reader, const Register::Limits &limits, QString *error) {
            return reader.listCalls(filter, beforeId, PageSize, rows.get(), error, limits);
        },
        this,
        [this, first = beforeId == 0, rows](bool ok, const QString &error) { pageArrived(first, ok, *rows, error); });
}

void CallListModel::pageArrived(bool first, bool ok, const QList<CallRecord> &rows, const QString &error)
{
    setSearching(false);
    if (!ok) {
        m_atEnd = true; // read again on the next refresh
        emit readFailed(error);
        return;
    }
    m_atEnd = rows.size() < PageSize;
    if (first) {
        beginResetModel();
        m_rows = rows;
        endResetModel();
    } else if (!rows.isEmpty()) {
        beginInsertRows({}, int(m_rows.size()), int(m_rows.size() + rows.size()) - 1);
        m_rows.append(rows);
        endInsertRows();
    }
}

void CallListModel::setSearching(bool searching)
{
    if (m_searching == searching)
        return;
    m_searching = searching;
    emit searchingChanged(searching);
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
    case Number: return OutsideText::name(c.laidOut);
    // The name the line sent is set apart from a contact's: in quotes, and
    // cleaned again (calls logged before names were cleaned keep them raw).
    case Name:
        return c.contactCode > 0     ? c.contactName
            : c.callerName.isEmpty() ? QString()
                                     : OutsideText::quoted(OutsideText::name(c.callerName));
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
    return !parent.isValid() && !m_atEnd && !m_searching;
}

void CallListModel::fetchMore(const QModelIndex &parent)
{
    if (parent.isValid() || m_atEnd || m_searching || m_rows.isEmpty())
        return;
    QList<CallRecord> rows;
    bool tooLong = false;
    QString error;
    const bool ok = readPage(m_rows.constLast().id, &rows, &tooLong, &error);
    if (tooLong) {
        readPageInBackground(m_rows.constLast().id);
        return;
    }
    pageArrived(false, ok, rows, error);
}
