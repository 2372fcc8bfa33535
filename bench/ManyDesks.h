#pragma once

#include <QString>

class QTextStream;

namespace Bench {

// Many desks saving to one register on the server at once: 10, 50 and 100
// desks (or those in `deskCounts`), each a thread with a register of its
// own, flat out and then paced at one save a second each. Each desk saves a
// new contact, saves it again and deletes the one before, over and over.
// Printed: saves a second, p50/p99 of each kind of write, how long until
// other desks (listening as a window does) have seen a save and read their
// first page again, errors and lost writes, each beside pgbench running the
// same statements in the same transactions. False when a write failed or
// was lost.
bool manyDesks(const QString &url, const QList<int> &deskCounts, QTextStream &out);

} // namespace Bench
