#pragma once

#include "core/contacts/CallFilter.h"
#include "core/contacts/CallRecord.h"

#include "core/contacts/Register.h"

#include <QAbstractTableModel>
#include <QSet>

#include <memory>

class ReaderWorker;

// The calls of the log that pass a filter, newest first, read a page at a
// time as the view scrolls: the log may hold a million calls. A page that
// would keep the window waiting (a text that few calls hold, a register
// another program holds busy) is read on a worker instead, and a newer
// filter stops it.
class CallListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { New, Date, Time, Number, Name, InRegister, ColumnCount };
    static constexpr int PageSize = 100;

    explicit CallListModel(QObject *parent = nullptr);
    ~CallListModel() override;

    void setRegister(Register *reg);
    // Reads the first page anew with this filter; false, with the reason,
    // when the log cannot be read. The page may come later, from the
    // background: isSearching() says so meanwhile.
    bool setFilter(const CallFilter &filter, QString *error);
    // Reads the first page anew with the same filter.
    bool refresh(QString *error) { return setFilter(m_filter, error); }
    // The calls shown as new.
    void setNewCalls(const QSet<qint64> &ids);
    const CallRecord &call(int row) const { return m_rows.at(row); }
    // The row of a call, or -1 when it is not among the rows read.
    int rowOf(qint64 id) const;
    bool isSearching() const { return m_searching; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex &parent = {}) const override;
    void fetchMore(const QModelIndex &parent = {}) override;

signals:
    void readFailed(const QString &error);
    void searchingChanged(bool searching);

private:
    // A page on the window's thread, within its budget; `tooLong` when it
    // must be read in the background instead.
    bool readPage(qint64 beforeId, QList<CallRecord> *rows, bool *tooLong, QString *error);
    void readPageInBackground(qint64 beforeId);
    void pageArrived(bool first, bool ok, const QList<CallRecord> &rows, const QString &error);
    void setSearching(bool searching);

    Register *m_register = nullptr;
    std::unique_ptr<Register::Reader> m_reader; // the window's
    std::unique_ptr<ReaderWorker> m_worker;
    quint64 m_generation = 0;
    bool m_searching = false;
    CallFilter m_filter;
    QList<CallRecord> m_rows;
    QSet<qint64> m_new;
    bool m_atEnd = true;
};
