#pragma once

#include <QString>

#include <functional>
#include <memory>

class SingleInstance;

// Puts a copy of the register in place of a desk's register, whole or not at
// all: the copy is unpacked and checked beside the register, given what this
// version reads a register through, flushed to the disk and only then renamed
// over the register. A stop at any moment (a kill, a power cut) leaves the
// register as it was, or the copy whole. The register replaced is kept first
// as one more copy in the folder of copies.
class RegisterRestore
{
public:
    using Progress = std::function<void(qint64 done, qint64 total)>;

    RegisterRestore(QString dataDir, QString copyPath);
    ~RegisterRestore();

    // Holds the data folder as a running Zuna does: refused while one runs
    // on it, so that nobody works on a register about to be replaced.
    bool lock(QString *error);
    // The running window, which holds the data folder itself, restores: it
    // has ended everything that used the register before replace().
    void heldByCaller() { m_heldByCaller = true; }
    // Unpacks and checks the copy beside the register; `contacts` receives
    // the number it holds.
    bool prepare(qint64 *contacts, QString *error, const Progress &progress = {});
    // Keeps the current register as a copy (its path in `kept`, empty when
    // there was none), then puts the prepared copy in its place. A copy of a
    // server's register gives its area code to a desk that has none yet.
    bool replace(QString *kept, QString *error);
    // The area code the copy gave the desk; empty when none.
    QString areaCodeTaken() const { return m_areaCodeTaken; }

    // Where the copy is unpacked, beside the register.
    QString preparedPath() const;
    QString copyPath() const { return m_copyPath; }
    // The contacts of the prepared copy.
    qint64 contacts() const { return m_contacts; }

private:
    void takeAreaCode(const QString &registerPath);

    QString m_dataDir;
    QString m_copyPath;
    std::unique_ptr<SingleInstance> m_lock;
    bool m_prepared = false;
    bool m_heldByCaller = false;
    qint64 m_contacts = 0;
    QString m_areaCode; // the copy's, when it carries one
    QString m_areaCodeTaken;
};
