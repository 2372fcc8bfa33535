#pragma once

#include "core/contacts/PostgresConnection.h"
#include "core/contacts/Register.h"

#include <QList>
#include <QSqlDatabase>

class QThread;

#include <atomic>
#include <functional>
#include <memory>

// The grid's and the background reader's connection to the server register.
// It connects anew after the server was lost. A server whose bare round trip
// alone is longer than a read's budget (one across town) is not asked within
// a budget at all: such a read ends at once with `tooLong`, for the
// background reader to take up, rather than hold the window for round trips
// that cannot fit. The round trip is timed when the connection is made.
//
// The window's reader keeps its connection on a thread of its own, and a
// read with a budget is waited for no longer than the budget. The server is
// told the same limit, but it does not always stop at once: a scan of the
// trigram index, or the parallel workers of a large search, may run on for
// another 10 to 30 ms on a loaded machine before the cancel is answered.
// That wait is the reader's thread's, not the window's; the page is then
// read in the background, as any page that needs more than a moment.
class PostgresReader : public Register::Reader
{
public:
    // A reader on the window's thread is given what the register knows of
    // the server (`reachable`: it neither connects nor reads while the server
    // is out of reach, and says so when it finds it gone) and the program's
    // limit on a read, `answerMs`; it works on a thread of its own.
    explicit PostgresReader(QString server, std::shared_ptr<std::atomic<bool>> reachable = {}, int answerMs = 0);
    ~PostgresReader() override;

    bool isOpen(QString *error) override;
    bool listPage(const NamePattern &pattern, const Register::ListRow *after, int limit, QList<Register::ListRow> *rows,
        QString *error, const Register::Limits &limits) override;
    bool listCalls(const CallFilter &filter, qint64 beforeId, int limit, QList<CallRecord> *rows, QString *error,
        const Register::Limits &limits) override;

private:
    using Read = std::function<bool(QSqlDatabase, PostgresConnection::Problem *)>;
    template <typename Row>
    using ReadInto = std::function<bool(QSqlDatabase, QList<Row> *, QString *, PostgresConnection::Problem *)>;

    // `read` into `rows`, on the reader's own thread when it has one.
    template <typename Row>
    bool readRows(const Register::Limits &limits, QList<Row> *rows, QString *error, const ReadInto<Row> &read);
    // Runs `work` on the reader's thread and waits for it `waitMs` at most
    // (0: until it ends); false when it had not ended by then. `work` then
    // goes on alone: what it uses must be its own.
    bool onOwnThread(int waitMs, std::function<void()> work);
    bool openHere(QString *error);
    // `read` on the reader's connection, stopped when it runs past the budget.
    bool readWithin(const Register::Limits &limits, QString *error, const Read &read);
    bool gone(QString *error, const QString &detail);

    QString m_server;
    std::shared_ptr<std::atomic<bool>> m_reachable;
    int m_answerMs = 0;
    std::unique_ptr<PostgresConnection> m_connection;
    double m_roundTripMs = 0; // the connection's shortest bare round trip
    int m_statementLimitMs = -1; // the connection's statement_timeout; -1: not set by this reader
    QThread *m_thread = nullptr; // the window's reader: its connection lives and works there
    QObject *m_context = nullptr; // lives on m_thread
};
