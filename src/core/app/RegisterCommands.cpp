#include "core/app/RegisterCommands.h"

#include "core/app/TerminalProgress.h"
#include "core/contacts/BackupFolder.h"
#include "core/contacts/ContactExport.h"
#include "core/contacts/ContactImport.h"
#include "core/contacts/Register.h"
#include "core/contacts/RegisterBackup.h"
#include "core/contacts/RegisterRestore.h"
#include "core/platform/DataFiles.h"
#include "core/platform/DataFolder.h"
#include "core/platform/DurableFile.h"
#include "core/platform/GzipFile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTextStream>

#include <cstdio>

namespace {

int failed(const QString &error, const QString &after = {})
{
    QTextStream(stderr) << "zuna: " << error << '\n' << after;
    return 1;
}

// The standard input, read through one stream: a second one would lose what
// the first had already buffered.
QTextStream &input()
{
    static QTextStream in(stdin);
    return in;
}

QString fieldName(ContactCsv::Column column)
{
    for (const auto &[c, name] : ContactCsv::choices()) {
        if (c == column)
            return name;
    }
    return QStringLiteral("pular");
}

// Settles each unclear column of the preview: with `yes`, as it was taken
// (an unknown header left out, a repeated field kept); otherwise by asking on
// the standard input for the field's number or name, Enter taking the
// suggestion. False when the input ends before every column is settled.
bool askColumns(
    const ContactImport::Preview &preview, QHash<int, ContactCsv::Column> *chosen, bool yes, QTextStream &out)
{
    const auto choices = ContactCsv::choices();
    if (!yes) {
        out << "Algumas colunas do arquivo não dizem com certeza qual é o seu campo. Campos:\n";
        for (qsizetype i = 0; i < choices.size(); ++i)
            out << "  " << i + 1 << " " << choices.at(i).second << '\n';
    }
    for (const int column : preview.unclear) {
        const ContactCsv::Column suggested = preview.columns.value(column);
        if (yes) {
            chosen->insert(column, suggested);
            continue;
        }
        const QString example = preview.example.value(column).simplified().left(40);
        for (;;) {
            out << "Coluna " << column + 1 << " \"" << preview.header.at(column).simplified() << "\""
                << (example.isEmpty() ? QString() : QStringLiteral(" (ex.: %1)").arg(example)) << " ["
                << fieldName(suggested) << "]: ";
            out.flush();
            const QString line = input().readLine();
            if (line.isNull())
                return false;
            ContactCsv::Column field = suggested;
            if (line.trimmed().isEmpty() || ContactCsv::choiceFor(line, &field)) {
                chosen->insert(column, field);
                break;
            }
            out << "Responda com o número ou o nome de um campo.\n";
        }
    }
    return true;
}

// A copy of the register into `file`: plain SQLite, or gzip when its name ends
// in .gz; written beside it and renamed when whole.
bool copyInto(const QString &dataDir, const QString &databaseUrl, const QString &file, qint64 *contacts, QString *error)
{
    if (QFileInfo::exists(file)) {
        *error = QStringLiteral("O arquivo %1 já existe; a cópia não o substitui.").arg(file);
        return false;
    }
    const QString plain = file + QStringLiteral(".part");
    const QString packed = file + QStringLiteral(".gz.part");
    QFile::remove(plain);
    TerminalProgress progress(QStringLiteral("Copiando o cadastro"));
    const auto show = [&](qint64 done, qint64 total) { progress.show(done, total); };
    bool ok = false;
    if (Register::serverFor(dataDir, databaseUrl).isEmpty()) {
        const QString source = DataFolder::findFile(dataDir, DataFiles::Contacts);
        if (source.isEmpty()) {
            *error = QStringLiteral("A pasta de dados %1 não tem o cadastro %2.").arg(dataDir, DataFiles::Contacts);
            return false;
        }
        ok = RegisterBackup::copyFile(source, plain, error, show, nullptr, false); // checked below
    } else {
        const auto reg = Register::open(dataDir, databaseUrl, Register::Patience::Background, error);
        ok = reg && RegisterBackup::copyRegister(*reg, plain, error, show);
    }
    ok = ok && RegisterBackup::check(plain, contacts, error);
    progress.finish();
    if (ok && file.endsWith(QLatin1String(".gz"), Qt::CaseInsensitive)) {
        QString detail;
        ok = GzipFile::compress(plain, packed, &detail) && DurableFile::replace(packed, file, &detail);
        if (!ok)
            *error = QStringLiteral("Não foi possível gravar %1.\nDetalhe: %2").arg(file, detail);
        QFile::remove(packed);
    } else if (ok) {
        QString detail;
        ok = DurableFile::replace(plain, file, &detail);
        if (!ok)
            *error = QStringLiteral("Não foi possível gravar %1.\nDetalhe: %2").arg(file, detail);
    }
    QFile::remove(plain);
    QFile::remove(plain + QStringLiteral("-journal"));
    return ok;
}

} // namespace

namespace RegisterCommands {

int backup(const QString &dataDir, const QString &databaseUrl, const QString &file)
{
    QTextStream out(stdout);
    if (!file.isEmpty()) {
        qint64 contacts = 0;
        QString error;
        if (!copyInto(dataDir, databaseUrl, file, &contacts, &error))
            return failed(error);
        out << "Cópia do cadastro feita e verificada: " << file << " (" << contacts << " contatos)\n";
        return 0;
    }
    if (!Register::serverFor(dataDir, databaseUrl).isEmpty())
        return failed(QStringLiteral("O cadastro fica no servidor: diga o arquivo da cópia (zuna --backup "
                                     "ARQUIVO.sqlite) ou faça as cópias no servidor (pg_dump)."));
    QString path, error;
    TerminalProgress progress(QStringLiteral("Copiando o cadastro"));
    if (!BackupFolder::makeCopy(dataDir, BackupFolder::Kind::Automatic, QDateTime::currentDateTime(), &path, &error,
            [&](qint64 done, qint64 total) { progress.show(done, total); }))
        return failed(error);
    progress.finish();
    out << "Cópia do cadastro feita e verificada: " << path << '\n';
    return 0;
}

int restore(const QString &dataDir, const QString &file)
{
    QTextStream out(stdout);
    RegisterRestore restore(dataDir, file);
    QString error;
    if (!restore.lock(&error))
        return failed(error, QStringLiteral("Nada foi mudado.\n"));
    qint64 contacts = 0;
    {
        TerminalProgress progress(QStringLiteral("Verificando a cópia"));
        if (!restore.prepare(&contacts, &error, [&](qint64 done, qint64 total) { progress.show(done, total); }))
            return failed(error, QStringLiteral("Nada foi mudado.\n"));
    }
    out << "Cópia verificada (integridade e tabelas): " << contacts << " contatos.\n";
    out.flush();
    QString kept;
    if (!restore.replace(&kept, &error))
        return failed(error, QStringLiteral("Nada foi mudado.\n"));
    if (!kept.isEmpty())
        out << "O cadastro anterior foi guardado em " << kept << '\n';
    if (!restore.areaCodeTaken().isEmpty())
        out << "DDD local tirado da cópia: " << restore.areaCodeTaken() << '\n';
    out << "Cadastro restaurado: " << contacts << " contatos.\n";
    return 0;
}

int exportContacts(const QString &dataDir, const QString &databaseUrl, const QString &file)
{
    QString error;
    const auto reg = Register::open(dataDir, databaseUrl, Register::Patience::Background, &error);
    if (!reg)
        return failed(error);
    qint64 written = 0;
    TerminalProgress progress(QStringLiteral("Gravando os contatos"));
    if (!ContactExport::write(
            *reg, file, &written, &error, [&](qint64 done, qint64 total) { progress.show(done, total); }))
        return failed(error, QStringLiteral("Nenhum arquivo foi gravado.\n"));
    progress.finish();
    QTextStream(stdout) << written << " contatos gravados em " << file << '\n';
    return 0;
}

int importContacts(const QString &dataDir, const QString &databaseUrl, const QString &file, bool yes, bool merge,
    const QStringList &columnMap)
{
    QString error;
    const auto reg = Register::open(dataDir, databaseUrl, Register::Patience::Background, &error);
    if (!reg)
        return failed(error);
    QString areaCode;
    reg->loadAreaCode(&areaCode, nullptr);
    ContactImport::Preview preview;
    QHash<int, ContactCsv::Column> chosen;
    const auto readFile = [&] {
        preview = ContactImport::Preview();
        TerminalProgress reading(QStringLiteral("Lendo o arquivo"));
        return ContactImport::read(
            file, *reg, areaCode, &preview, &error, [&](qint64 done, qint64 total) { reading.show(done, total); },
            chosen);
    };
    if (!readFile())
        return failed(error, QStringLiteral("Nada foi gravado.\n"));
    QTextStream out(stdout);
    if (!columnMap.isEmpty() || !preview.unclear.isEmpty()) {
        if (preview.header.isEmpty() && !columnMap.isEmpty())
            return failed(
                QStringLiteral("a opção --map vale para arquivos CSV."), QStringLiteral("Nada foi gravado.\n"));
        for (const QString &m : columnMap) {
            const qsizetype eq = m.lastIndexOf(QLatin1Char('='));
            const int column = ContactCsv::columnIndexFor(preview.header, m.left(eq));
            if (column < 0)
                return failed(QStringLiteral("--map %1: o arquivo não tem a coluna %2.").arg(m, m.left(eq)),
                    QStringLiteral("Nada foi gravado.\n"));
            ContactCsv::choiceFor(m.mid(eq + 1), &chosen[column]);
        }
        if (!chosen.isEmpty() && !readFile())
            return failed(error, QStringLiteral("Nada foi gravado.\n"));
        if (!preview.unclear.isEmpty() && !askColumns(preview, &chosen, yes, out))
            return failed(QStringLiteral("nada foi gravado: responda às perguntas, ou diga o campo de cada coluna com "
                                         "--map COLUNA=CAMPO."));
        if (!preview.unclear.isEmpty() && !readFile())
            return failed(error, QStringLiteral("Nada foi gravado.\n"));
    }
    out << ContactImport::describe(preview, 5, merge);
    const qint64 merged = merge ? preview.merges.size() : 0;
    if (!merge && !preview.merges.isEmpty())
        out << "Para completá-los com o que o arquivo traz, use --merge.\n";
    if (preview.toAdd.isEmpty() && merged == 0) {
        out << "Não há contatos novos para gravar.\n";
        return preview.damaged.isEmpty() ? 0 : 1;
    }
    const QString what = merged == 0
        ? QStringLiteral("os %1 contatos").arg(preview.toAdd.size())
        : QStringLiteral("os %1 contatos novos e completar os %2 já cadastrados").arg(preview.toAdd.size()).arg(merged);
    if (!yes) {
        out << "Gravar " << what << " no cadastro"
            << (preview.damaged.isEmpty() ? "" : ", pulando as linhas danificadas") << "? [s/N] ";
        out.flush();
        const QString line = input().readLine();
        if (line.isNull()) // nobody to answer
            return failed(QStringLiteral("nada foi gravado: para gravar sem perguntar, use --yes."));
        const QString answer = line.trimmed().toLower();
        if (answer != QLatin1String("s") && answer != QLatin1String("sim")) {
            out << "Nada foi gravado.\n";
            return 1;
        }
    }
    TerminalProgress progress(QStringLiteral("Gravando os contatos"));
    const qint64 total = preview.toAdd.size() + merged;
    if (!ContactImport::write(
            *reg, preview, merge, [&](qint64 done) { progress.show(done, total); }, &error))
        return failed(error, QStringLiteral("Nada foi gravado.\n"));
    progress.finish();
    out << preview.toAdd.size() << " contatos importados";
    if (merged > 0)
        out << ", " << merged << " contatos já cadastrados completados";
    out << ".\n";
    return 0;
}

} // namespace RegisterCommands
