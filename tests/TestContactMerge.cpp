#include "TestSupport.h"

#include "core/contacts/ContactImport.h"
#include "core/contacts/Register.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

ProgramRun zuna(const QStringList &arguments)
{
    return runProgram(QStringLiteral(ZUNA_BINARY), arguments);
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// Name, telephone, address, district, city, notes: the fields the files of
// these tests carry.
ContactRecord contact(const QStringList &f)
{
    ContactRecord r;
    r.a1 = f.value(0);
    r.a4 = f.value(1);
    r.a9 = f.value(2);
    r.a11 = f.value(3);
    r.a12 = f.value(4);
    r.ob = f.value(5);
    return r;
}

QStringList fieldsOf(const ContactRecord &r)
{
    return { r.a1, r.a4, r.a9, r.a11, r.a12, r.ob };
}

QList<QStringList> stored(Register &reg)
{
    QList<QStringList> all;
    QString error;
    if (!reg.forEachContact([&](const ContactRecord &c) { return all << fieldsOf(c), true; }, &error))
        qWarning("%s", qPrintable(error));
    return all;
}

const QByteArray Header = "nome;telefone;endereco;bairro;cidade;observacoes\r\n";

} // namespace

class TestContactMerge : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data() { RegisterFixture::addBackends(); }

    void duplicatesCompleteTheStoredContact_data();
    void duplicatesCompleteTheStoredContact();
    void withoutMergeDuplicatesAreSkipped();
    void aContactChangedSinceTheFileWasReadWritesNothing();
};

void TestContactMerge::duplicatesCompleteTheStoredContact_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QByteArray>("row");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("empty fields take the file's")
        << QStringList { "Ana", "(11)3333-4444" } << QByteArray("Ana;11 3333 4444;Rua A, 10;Centro;Santos;")
        << QStringList { "Ana", "(11)3333-4444", "Rua A, 10", "Centro", "Santos", "" };
    QTest::newRow("filled fields stay, the file's go to the notes")
        << QStringList { "Ana Souza", "(11)3333-4444", "Rua B, 5", "", "Santos", "Cliente antiga" }
        << QByteArray("Ana S.;(11) 3333-4444;Rua A, 10;Centro;Santos;")
        << QStringList { "Ana Souza", "(11)3333-4444", "Rua B, 5", "Centro", "Santos",
               "Cliente antiga\nImportado, nome: Ana S.\nImportado, endereço: Rua A, 10" };
    QTest::newRow("the file's notes added line by line")
        << QStringList { "Ana", "(11)3333-4444", "", "", "", "Prefere a tarde" }
        << QByteArray("Ana;(11)3333-4444;;;;\"Prefere a tarde\nOutros telefones: (11)98888-7777\"")
        << QStringList { "Ana", "(11)3333-4444", "", "", "", "Prefere a tarde\nOutros telefones: (11)98888-7777" };
    QTest::newRow("notes of an empty contact taken whole")
        << QStringList { "Ana", "(11)3333-4444" } << QByteArray("Ana;(11)3333-4444;;;;\"Linha 1\n\nLinha 3\"")
        << QStringList { "Ana", "(11)3333-4444", "", "", "", "Linha 1\n\nLinha 3" };
    QTest::newRow("telephone kept as stored")
        << QStringList { "Ana", "3333-4444" } << QByteArray("Ana;+55 11 3333-4444;;;Santos;")
        << QStringList { "Ana", "3333-4444", "", "", "Santos", "" };
    QTest::newRow("the same text written otherwise changes nothing")
        << QStringList { "Ana", "(11)3333-4444", "Rua A, 10", "", "São Paulo", "" }
        << QByteArray("ANA;(11)3333-4444;rua a,  10;;SÃO PAULO;")
        << QStringList { "Ana", "(11)3333-4444", "Rua A, 10", "", "São Paulo", "" };
}

// Through the command line: the stored contact is completed, a new one added
// beside it, and the same file merged again changes nothing.
void TestContactMerge::duplicatesCompleteTheStoredContact()
{
    REGISTER_FIXTURE(r);
    QFETCH(QStringList, before);
    QFETCH(QByteArray, row);
    QFETCH(QStringList, after);
    r.add(contact(before));
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("lista.csv"));
    writeFile(file, Header + row + "\r\nNova;(11)2222-1111;;;Santos;\r\n");
    const QStringList args { QStringLiteral("--data-dir"), r.data().path(), QStringLiteral("--import-contacts"), file,
        QStringLiteral("--merge"), QStringLiteral("--yes") };
    ProgramRun run = zuna(args);
    QVERIFY2(run.status == 0, qPrintable(run.out + run.err));
    const QList<QStringList> expected { after, QStringList { "Nova", "(11)2222-1111", "", "", "Santos", "" } };
    QCOMPARE(stored(r.reg()), expected);
    QVERIFY2(run.out.contains(after == before ? QStringLiteral("1 contatos importados.")
                                              : QStringLiteral("1 contatos importados, 1 contatos já cadastrados "
                                                               "completados.")),
        qPrintable(run.out));
    run = zuna(args);
    QCOMPARE(run.status, 0);
    QVERIFY2(run.out.contains(QStringLiteral("Não há contatos novos")), qPrintable(run.out));
    QCOMPARE(stored(r.reg()), expected);
}

void TestContactMerge::withoutMergeDuplicatesAreSkipped()
{
    REGISTER_FIXTURE(r);
    r.add(contact({ "Ana", "(11)3333-4444" }));
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("lista.csv"));
    writeFile(file, Header + "Ana;(11)3333-4444;Rua A, 10;;;\r\n");
    const ProgramRun run = zuna({ QStringLiteral("--data-dir"), r.data().path(), QStringLiteral("--import-contacts"),
        file, QStringLiteral("--yes") });
    QCOMPARE(run.status, 0);
    QVERIFY2(run.out.contains(QStringLiteral("1 dos contatos repetidos trazem dados")), qPrintable(run.out));
    QVERIFY2(run.out.contains(QStringLiteral("--merge")), qPrintable(run.out));
    QCOMPARE(stored(r.reg()), QList<QStringList>({ { "Ana", "(11)3333-4444", "", "", "", "" } }));
    // --merge belongs to an import.
    QCOMPARE(zuna({ QStringLiteral("--data-dir"), r.data().path(), QStringLiteral("--merge") }).status, 2);
}

// Another desk saves a contact between the preview and the writing: the
// whole import is refused, new contacts included, and says which.
void TestContactMerge::aContactChangedSinceTheFileWasReadWritesNothing()
{
    REGISTER_FIXTURE(r);
    r.add(contact({ "Ana", "(11)3333-4444" }));
    r.add(contact({ "Bia", "(11)3333-5555" }));
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("lista.csv"));
    writeFile(
        file, Header + "Ana;(11)3333-4444;;;Santos;\r\nBia;(11)3333-5555;;;Santos;\r\nCarla;(11)2222-1111;;;;\r\n");
    ContactImport::Preview preview;
    QString error;
    QVERIFY2(ContactImport::read(file, r.reg(), QStringLiteral("11"), &preview, &error), qPrintable(error));
    QCOMPARE(preview.merges.size(), 2);
    QVERIFY(ContactImport::describe(preview, 5, true).contains(QStringLiteral("2 já cadastrados a completar")));
    r.exec(QStringLiteral("UPDATE CADA SET A12 = 'Niterói' WHERE A1 = 'Bia'"));
    QVERIFY(!ContactImport::write(r.reg(), preview, true, {}, &error));
    QVERIFY2(error.contains(QStringLiteral("\"Bia\"")) && error.contains(QStringLiteral("mudou")), qPrintable(error));
    const QList<QStringList> untouched { { "Ana", "(11)3333-4444", "", "", "", "" },
        { "Bia", "(11)3333-5555", "", "", "Niterói", "" } };
    QCOMPARE(stored(r.reg()), untouched);
    // Read again, the file merges what is still missing.
    preview = ContactImport::Preview();
    QVERIFY2(ContactImport::read(file, r.reg(), QStringLiteral("11"), &preview, &error), qPrintable(error));
    QVERIFY2(ContactImport::write(r.reg(), preview, true, {}, &error), qPrintable(error));
    const QList<QStringList> merged { { "Ana", "(11)3333-4444", "", "", "Santos", "" },
        { "Bia", "(11)3333-5555", "", "", "Niterói", "Importado, cidade: Santos" },
        { "Carla", "(11)2222-1111", "", "", "", "" } };
    QCOMPARE(stored(r.reg()), merged);
}

QTEST_MAIN(TestContactMerge)
#include "TestContactMerge.moc"
