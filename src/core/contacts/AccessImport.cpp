#include "core/contacts/AccessImport.h"

#include "core/contacts/AccessReader.h"
#include "core/contacts/SqlConnection.h"
#include "core/contacts/SqliteRegister.h"
#include "core/contacts/SqliteSchema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>
#include <QVariant>

namespace AccessImport {

namespace {

const char *ContactColumns[] = { "CD", "A1", "A4", "A9", "A10", "A11", "A12", "A13", "A14", "OB" };

QString kindName(Kind kind)
{
    return kind == Kind::Contacts ? QStringLiteral("contacts") : QStringLiteral("ddd");
}

QVariant valueOf(const AccessReader::Bound &b)
{
    if (b.isNull)
        return QVariant(QMetaType::fromType<QString>());
    return QString::fromUtf8(b.buffer.data(), b.length);
}

bool writeRows(AccessReader &reader, Kind kind, const QSqlDatabase &db, qint64 *rows, QString *error)
{
    const QStringList wanted = kind == Kind::Contacts
        ? QStringList(std::begin(ContactColumns), std::end(ContactColumns))
        : QStringList { QStringLiteral("a1") };
    const auto bound = reader.bind(wanted);
    // Every column is needed: a column that cannot be read (a damaged table
    // definition) would otherwise come over empty in every row.
    QStringList missing = wanted;
    for (const auto &b : bound)
        missing.removeAll(b->name);
    if (!missing.isEmpty()) {
        *error = QStringLiteral("A tabela do Access não tem, ou não deixa ler, as colunas %1.")
                     .arg(missing.join(QStringLiteral(", ")));
        return false;
    }
    QStringList names;
    for (const auto &b : bound)
        names << b->name;
    const QString table = kind == Kind::Contacts ? QStringLiteral("CADA") : QStringLiteral("a1");
    QSqlQuery insert(db);
    if (!insert.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                            .arg(table, names.join(QStringLiteral(", ")),
                                QStringList(names.size(), QStringLiteral("?")).join(QStringLiteral(", "))))) {
        *error = insert.lastError().text();
        return false;
    }
    qint64 count = 0;
    while (reader.next(bound)) {
        for (const auto &b : bound) {
            if (b->filled()) {
                *error = QStringLiteral("Um valor da coluna %1 é longo demais para ser lido por inteiro.").arg(b->name);
                return false;
            }
            insert.addBindValue(valueOf(*b));
        }
        if (!insert.exec()) {
            *error = QStringLiteral("Linha %1: %2").arg(count + 1).arg(insert.lastError().text());
            return false;
        }
        ++count;
    }
    if (reader.broken()) {
        *error = QStringLiteral("O arquivo do Access está danificado: há linhas da tabela que não puderam ser lidas.");
        return false;
    }
    const QString said = reader.diagnostics();
    if (!said.isEmpty()) {
        *error = QStringLiteral("O arquivo do Access está danificado; a leitura ficaria incompleta.\nDetalhe: %1")
                     .arg(said.section(QLatin1Char('\n'), 0, 2));
        return false;
    }
    // A truncated file ends early without an error from libmdb: the table's
    // own row count tells.
    if (count < qint64(reader.declaredRows())) {
        *error = QStringLiteral("O arquivo do Access está incompleto: %1 de %2 linhas puderam ser lidas.")
                     .arg(count)
                     .arg(reader.declaredRows());
        return false;
    }
    if (kind == Kind::AreaCode && count == 0) {
        *error = QStringLiteral("A tabela a1 do arquivo do Access não tem nenhuma linha.");
        return false;
    }
    *rows = count;
    return true;
}

} // namespace

bool copyInProcess(Kind kind, const QString &source, const QString &target, qint64 *rows, QString *error)
{
    if (QFileInfo::exists(target)) {
        *error = QStringLiteral("O arquivo de destino já existe: %1").arg(target);
        return false;
    }
    AccessReader reader;
    if (!reader.open(source, error)
        || !reader.openTable(kind == Kind::Contacts ? QStringLiteral("CADA") : QStringLiteral("a1"), error))
        return false;

    bool ok = false;
    {
        SqlConnection conn(target, SqlConnection::Mode::Create);
        if (!conn.isOpen()) {
            *error = conn.errorText();
        } else {
            QSqlDatabase db = conn.database();
            QSqlQuery q(db);
            QString detail;
            ok = q.exec(QStringLiteral("BEGIN"))
                && (kind == Kind::Contacts ? SqliteSchema::create(db, &detail)
                                           : runSqlScript(db, QStringLiteral(":/data/schema-ddd-empty.sql"), &detail));
            if (!ok)
                *error = detail.isEmpty() ? q.lastError().text() : detail;
            ok = ok && writeRows(reader, kind, db, rows, error);
            ok = ok && q.exec(QStringLiteral("COMMIT"));
            if (!ok && error->isEmpty())
                *error = q.lastError().text();
        }
    }
    if (!ok)
        QFile::remove(target);
    return ok;
}

int runWorker(const QStringList &arguments)
{
    QTextStream err(stderr);
    if (arguments.size() != 3
        || (arguments.at(0) != QLatin1String("contacts") && arguments.at(0) != QLatin1String("ddd"))) {
        err << "uso: --" << WorkerOption << " contacts|ddd ORIGEM DESTINO\n";
        return 2;
    }
    const Kind kind = arguments.at(0) == QLatin1String("contacts") ? Kind::Contacts : Kind::AreaCode;
    qint64 rows = 0;
    QString error;
    if (!copyInProcess(kind, arguments.at(1), arguments.at(2), &rows, &error)) {
        err << error << '\n';
        return 1;
    }
    QTextStream(stdout) << rows << '\n';
    return 0;
}

bool importFile(const QString &program, Kind kind, const QString &source, const QString &target, int timeoutMs,
    qint64 *rows, QString *error)
{
    const QString partial = target + QStringLiteral(".importando");
    QFile::remove(partial);
    QProcess worker;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *var : { "MDBICONV", "MDB_JET3_CHARSET", "MDBPATH" })
        env.remove(QLatin1String(var));
    worker.setProcessEnvironment(env);
    worker.start(program, { QStringLiteral("--") + WorkerOption, kindName(kind), source, partial });
    const QString what = QStringLiteral("Não foi possível trazer %1 para o Zuna.").arg(QFileInfo(source).fileName());
    if (!worker.waitForStarted()) {
        *error = QStringLiteral("%1\n%2").arg(what, worker.errorString());
        return false;
    }
    if (!worker.waitForFinished(timeoutMs)) {
        worker.kill();
        worker.waitForFinished();
        QFile::remove(partial);
        *error = QStringLiteral("%1\nA leitura do arquivo passou de %2 segundos; o arquivo deve estar danificado.")
                     .arg(what)
                     .arg(timeoutMs / 1000);
        return false;
    }
    const QString detail = QString::fromUtf8(worker.readAllStandardError()).trimmed();
    if (worker.exitStatus() != QProcess::NormalExit || worker.exitCode() != 0) {
        QFile::remove(partial);
        *error = QStringLiteral("%1\nArquivo: %2\nDetalhe: %3")
                     .arg(what, QFileInfo(source).absoluteFilePath(),
                         detail.isEmpty() ? QStringLiteral("a leitura terminou com erro") : detail);
        return false;
    }
    if (QFileInfo::exists(target) || !QFile::rename(partial, target)) {
        QFile::remove(partial);
        *error = QStringLiteral("%1\nO arquivo %2 não pôde ser criado.").arg(what, target);
        return false;
    }
    *rows = worker.readAllStandardOutput().trimmed().toLongLong();
    return true;
}

} // namespace AccessImport
