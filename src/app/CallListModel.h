#pragma once

#include "contacts/CallFilter.h"
#include "contacts/CallRecord.h"

#include <QAbstractTableModel>
#include <QSet>

class Register;

// The calls of the log that pass a filter, newest first, read a page at a
// time as the view scrolls: the log may hold a million calls.
class CallListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { New, Date, Time, Number, Name, InRegister, ColumnCount };
    static constexpr int PageSize = 100;

    explicit CallListModel(QObject *parent = nullptr);

    void setRegister(Register *reg) { m_register = reg; }
    // Reads the first page anew with this filter; false, with the reason,
    // when the log cannot be read.
    bool setFilter(const CallFilter &filter, QString *error);
    // Reads the first page anew with the same filter.
    bool refresh(QString *error) { return setFilter(m_filter, error); }
    // The calls shown as new.
    void setNewCalls(const QSet<qint64> &ids);
    const CallRecord &call(int row) const { return m_rows.at(row); }
    // The row of a call, or -1 when it is not among the rows read.
    int rowOf(qint64 id) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex &parent = {}) const override;
    void fetchMore(const QModelIndex &parent = {}) override;

signals:
    void readFailed(const QString &error);

private:
    Register *m_register = nullptr;
    CallFilter m_filter;
    QList<CallRecord> m_rows;
    QSet<qint64> m_new;
    bool m_atEnd = true;
};
