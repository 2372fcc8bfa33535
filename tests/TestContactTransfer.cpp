#include "TestSupport.h"

#include "core/contacts/ContactCsv.h"
#include "core/contacts/ContactImport.h"
#include "core/contacts/ContactVCard.h"
#include "core/contacts/CsvText.h"
#include "core/contacts/Register.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

using Run = ProgramRun;

Run zuna(const QStringList &arguments, const QByteArray &input = {})
{
    return runProgram(QStringLiteral(ZUNA_BINARY), arguments, input);
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

ContactRecord contact(const QString &name, const QString &phone, const QString &street = {},
    const QString &complement = {}, const QString &district = {}, const QString &city = {}, const QString &state = {},
    const QString &postcode = {}, const QString &notes = {})
{
    ContactRecord r;
    r.a1 = name;
    r.a4 = phone;
    r.a9 = street;
    r.a10 = complement;
    r.a11 = district;
    r.a12 = city;
    r.a13 = state;
    r.a14 = postcode;
    r.ob = notes;
    return r;
}

// Contacts whose text trips CSV, vCard and spreadsheets: separators,
// quotes, line breaks, formula starts, apostrophes, backslashes, accents and
// characters outside the BMP, a note long enough to be folded mid-letter.
QList<ContactRecord> awkwardContacts()
{
    return {
        contact(QStringLiteral("José da Conceição"), QStringLiteral("(11)3333-4444"),
            QStringLiteral("Rua \"Aspas\", 12; fundos"), QStringLiteral("Apto 3"), QStringLiteral("Bela Vista"),
            QStringLiteral("São Paulo"), QStringLiteral("SP"), QStringLiteral("01310-100"),
            QStringLiteral("Cliente desde 2010\nPrefere ligar à tarde")),
        contact(QStringLiteral("=HYPERLINK(\"http://exemplo\";\"clique\")"), QStringLiteral("+55 11 98765-4321"), {},
            {}, {}, {}, {}, {}, QStringLiteral("-10% de desconto\n@todos")),
        contact(QStringLiteral("@arroba e 'apóstrofo'"), QStringLiteral("'0800 777 1234"), {}, {}, {}, {}, {}, {},
            QStringLiteral("'já começa com apóstrofo")),
        contact(QStringLiteral("\tTabulação na frente"), QStringLiteral("21 2555-1234"),
            QStringLiteral("C:\\pasta\\arquivo;x,y")),
        contact(QStringLiteral("Ana 😀 Emoji"), QStringLiteral("(31)99999-8888"), {}, {}, {}, {}, {}, {},
            QString(40, QChar(u'ã')) + QStringLiteral("😀") + QString(40, QChar(u'é'))),
        contact(QStringLiteral("Só o nome"), {}),
    };
}

QList<ContactRecord> withoutCodes(QList<ContactRecord> records)
{
    for (ContactRecord &r : records)
        r.cd = 0;
    return records;
}

QList<ContactRecord> contactsOf(Register &reg)
{
    QList<ContactRecord> all;
    QString error;
    if (!reg.forEachContact([&](const ContactRecord &c) { return all << c, true; }, &error))
        qWarning("%s", qPrintable(error));
    return withoutCodes(all);
}

QList<ContactRecord> recordsOf(const QList<ImportRow> &rows)
{
    QList<ContactRecord> records;
    for (const ImportRow &row : rows)
        records << row.record;
    return records;
}

QList<int> linesOf(const QList<ImportRow> &rows)
{
    QList<int> lines;
    for (const ImportRow &row : rows)
        lines << row.line;
    return lines;
}

// Three contacts as other programs hold them.
const QList<ContactRecord> Theirs = {
    contact(QStringLiteral("Maria Conceição"), QStringLiteral("(11) 3333-4444"), QStringLiteral("Rua A, 10"), {}, {},
        QStringLiteral("São Paulo"), {}, {}, QStringLiteral("Primeira linha\nSegunda; linha")),
    contact(QStringLiteral("João \"Jota\" Araújo"), QStringLiteral("21 98877-6655"), QStringLiteral("Av. Brasil 5"), {},
        {}, QStringLiteral("Niterói"), {}, {}, {}),
    contact(QStringLiteral("Pedro"), QStringLiteral("3322-1100"), {}, {}, {}, QStringLiteral("Belo Horizonte"), {}, {},
        QStringLiteral("€ 20,00")),
};

} // namespace

class TestContactTransfer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data() { RegisterFixture::addBackends(); }

    void exportThenImportGivesTheSameContacts_data();
    void exportThenImportGivesTheSameContacts();
    void csvWrittenByOtherPrograms_data();
    void csvWrittenByOtherPrograms();
    void vcardsWrittenByHand();
    void importSkipsDuplicatesAndDamagedRowsWithTheirLines();
    void excelSeparatorLineIsHonoured();
    void importWritesNothingUnlessConfirmed();
    void cellsAreNeutralisedForSpreadsheets_data();
    void cellsAreNeutralisedForSpreadsheets();
    void unclearColumnsAreAskedOrMapped_data();
    void unclearColumnsAreAskedOrMapped();
    void headerNamesInPortugueseAndEnglish_data();
    void headerNamesInPortugueseAndEnglish();
};

void TestContactTransfer::exportThenImportGivesTheSameContacts_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("csv") << QStringLiteral("contatos.csv");
    QTest::newRow("vcard") << QStringLiteral("contatos.vcf");
}

void TestContactTransfer::exportThenImportGivesTheSameContacts()
{
    QFETCH(QString, file);
    REGISTER_FIXTURE(source);
    for (const ContactRecord &c : awkwardContacts())
        source.add(c);
    QTemporaryDir out;
    const QString first = out.filePath(file);
    Run run = zuna({ QStringLiteral("--data-dir"), source.data().path(), QStringLiteral("--export-contacts"), first });
    QVERIFY2(run.status == 0, qPrintable(run.err));

    RegisterFixture target(source.backend());
    run = zuna({ QStringLiteral("--data-dir"), target.data().path(), QStringLiteral("--import-contacts"), first,
        QStringLiteral("--yes") });
    QVERIFY2(run.status == 0, qPrintable(run.err + run.out));
    QCOMPARE(contactsOf(target.reg()), withoutCodes(awkwardContacts()));
    // Exported again, byte for byte the same file (codes given in the same order).
    const QString second = out.filePath(QStringLiteral("de-novo-") + file);
    run = zuna({ QStringLiteral("--data-dir"), target.data().path(), QStringLiteral("--export-contacts"), second });
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(readAll(second), readAll(first));
    // Imported once more, every contact with a telephone is a duplicate
    // (one written with an apostrophe in front is not a number).
    run = zuna({ QStringLiteral("--data-dir"), target.data().path(), QStringLiteral("--import-contacts"), first,
        QStringLiteral("--yes") });
    QVERIFY2(run.out.contains(QLatin1String("2 contatos a importar, 4 repetidos")), qPrintable(run.out));
}

void TestContactTransfer::csvWrittenByOtherPrograms_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    // The rows are handed to the programs in JSON.
    const QString python = QStringLiteral("import csv, json, sys\n"
                                          "rows = json.loads(sys.argv[1])\n"
                                          "with open(sys.argv[2], 'w', newline='', encoding=sys.argv[3]) as f:\n"
                                          "    w = csv.writer(f, delimiter=sys.argv[4], quoting=int(sys.argv[5]))\n"
                                          "    w.writerow(sys.argv[6].split('|'))\n"
                                          "    for r in rows: w.writerow(r)\n");
    const QString pt = QStringLiteral("Nome|Telefone|Endereço|Cidade|Observações");
    const QString en = QStringLiteral("Name|Phone|Street|City|Notes");
    QTest::newRow("python excel, utf-8, comma") << QStringLiteral("python3")
                                                << QStringList { QStringLiteral("-c"), python, QStringLiteral("utf-8"),
                                                       QStringLiteral(","), QStringLiteral("0"), pt };
    QTest::newRow("python excel, windows-1252, semicolon")
        << QStringLiteral("python3")
        << QStringList { QStringLiteral("-c"), python, QStringLiteral("cp1252"), QStringLiteral(";"),
               QStringLiteral("0"), pt };
    QTest::newRow("python, utf-8 with BOM, all quoted, English header")
        << QStringLiteral("python3")
        << QStringList { QStringLiteral("-c"), python, QStringLiteral("utf-8-sig"), QStringLiteral(","),
               QStringLiteral("1"), en };
    QTest::newRow("python, tab-separated") << QStringLiteral("python3")
                                           << QStringList { QStringLiteral("-c"), python, QStringLiteral("utf-8"),
                                                  QStringLiteral("\t"), QStringLiteral("0"), en };
    QTest::newRow("sqlite3 -csv -header") << QStringLiteral("sqlite3") << QStringList();
    // Calc's own CSV filter: separator ';', quote '"', Windows-1252, as a
    // shop's spreadsheet is saved on a Brazilian Windows.
    QTest::newRow("LibreOffice Calc, windows-1252, semicolon")
        << QStringLiteral("soffice") << QStringList { QStringLiteral("csv:Text - txt - csv (StarCalc):59,34,1,1") };
}

namespace {

// A spreadsheet as LibreOffice keeps it in one XML file (flat ODS): a header
// row and one row per contact, a cell's line breaks as paragraphs.
QByteArray flatSpreadsheet(const QStringList &header, const QList<ContactRecord> &rows)
{
    const auto cell = [](const QString &text) {
        QString out = QStringLiteral("<table:table-cell office:value-type=\"string\">");
        for (const QString &line : text.split(QLatin1Char('\n')))
            out += QStringLiteral("<text:p>%1</text:p>").arg(line.toHtmlEscaped());
        return out + QStringLiteral("</table:table-cell>");
    };
    QString table;
    QString head;
    for (const QString &h : header)
        head += cell(h);
    table += QStringLiteral("<table:table-row>%1</table:table-row>").arg(head);
    for (const ContactRecord &c : rows) {
        QString row;
        for (const QString &v : { c.a1, c.a4, c.a9, c.a12, c.ob })
            row += v.isEmpty() ? QStringLiteral("<table:table-cell/>") : cell(v);
        table += QStringLiteral("<table:table-row>%1</table:table-row>").arg(row);
    }
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                          "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
                          "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" office:version=\"1.3\" "
                          "office:mimetype=\"application/vnd.oasis.opendocument.spreadsheet\">"
                          "<office:body><office:spreadsheet><table:table table:name=\"Clientes\">"
                          "<table:table-column table:number-columns-repeated=\"5\"/>%1"
                          "</table:table></office:spreadsheet></office:body></office:document>\n")
        .arg(table)
        .toUtf8();
}

} // namespace

void TestContactTransfer::csvWrittenByOtherPrograms()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    if (QStandardPaths::findExecutable(program).isEmpty())
        QSKIP("the program is not installed");
    REGISTER_FIXTURE(r);
    QTemporaryDir out;
    const QString file = out.filePath(QStringLiteral("deles.csv"));
    QProcess p;
    if (program == QLatin1String("python3")) {
        QJsonArray rows;
        for (const ContactRecord &c : Theirs)
            rows.append(QJsonArray { c.a1, c.a4, c.a9, c.a12, c.ob });
        arguments.insert(2, QString::fromUtf8(QJsonDocument(rows).toJson(QJsonDocument::Compact)));
        arguments.insert(3, file);
        p.start(program, arguments);
    } else if (program == QLatin1String("soffice")) {
        const QString sheet = out.filePath(QStringLiteral("deles.fods"));
        writeFile(sheet,
            flatSpreadsheet({ QStringLiteral("Nome"), QStringLiteral("Telefone"), QStringLiteral("Endereço"),
                                QStringLiteral("Cidade"), QStringLiteral("Observações") },
                Theirs));
        // A profile of its own, so that no running office is disturbed.
        p.start(program,
            { QStringLiteral("-env:UserInstallation=file://%1").arg(out.filePath(QStringLiteral("perfil"))),
                QStringLiteral("--headless"), QStringLiteral("--norestore"), QStringLiteral("--convert-to"),
                arguments.value(0), QStringLiteral("--outdir"), out.path(), sheet });
    } else {
        const QString db = out.filePath(QStringLiteral("deles.sqlite"));
        QString sql = QStringLiteral("CREATE TABLE t (nome, telefone, endereco, cidade, observacoes);");
        for (const ContactRecord &c : Theirs) {
            QStringList values;
            for (QString v : { c.a1, c.a4, c.a9, c.a12, c.ob })
                values << QLatin1Char('\'') + v.replace(QLatin1Char('\''), QLatin1String("''")) + QLatin1Char('\'');
            sql += QStringLiteral("INSERT INTO t VALUES (%1);").arg(values.join(QLatin1Char(',')));
        }
        QProcess make;
        make.start(program, { db, sql });
        QVERIFY(make.waitForFinished(10000) && make.exitCode() == 0);
        p.setStandardOutputFile(file);
        p.start(program, { QStringLiteral("-csv"), QStringLiteral("-header"), db, QStringLiteral("SELECT * FROM t") });
    }
    QVERIFY(p.waitForFinished(120000));
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
    QVERIFY2(QFile::exists(file), p.readAllStandardOutput().constData());

    ContactImport::Preview preview;
    QString error;
    QVERIFY2(ContactImport::read(file, r.reg(), QStringLiteral("11"), &preview, &error), qPrintable(error));
    QCOMPARE(recordsOf(preview.toAdd), Theirs);
    QCOMPARE(linesOf(preview.toAdd), QList<int>({ 2, 4, 5 })); // the first note spans two lines
    QVERIFY(preview.damaged.isEmpty());
}

void TestContactTransfer::vcardsWrittenByHand()
{
    REGISTER_FIXTURE(r);
    // RFC 6350 by hand: folded lines (one fold inside "ç", split between its
    // two bytes), quoted parameter values holding ':' and ',', a group, several
    // telephones, escaped separators; then a phone's vCard 2.1 with
    // quoted-printable and a soft line break, a card cut short, stray text.
    const QByteArray cards
        = "BEGIN:VCARD\r\n"
          "VERSION:4.0\r\n"
          "FN:Maria da Concei\xC3\r\n \xA7\xC3\xA3o Souza\r\n"
          "N:Souza;Maria;;;\r\n"
          "item1.TEL;TYPE=\"cell,voice\";PREF=1:tel:+55-11-98765-4321\r\n"
          "TEL;TYPE=work;VALUE=text:(11) 3333-4444\r\n"
          "TEL;TYPE=home:11 2222-1111\r\n"
          "ADR;TYPE=home;LABEL=\"Rua das Flores, 12: fundos\":;Apto 3;Rua das Flores\\, 12;S\xC3\xA3o P\r\n"
          "\taulo;SP;01310-100;Brasil\r\n"
          "NOTE:Primeira linha\\nSegunda\\; com ponto e v\xC3\xADrgula\r\n"
          "END:VCARD\r\n"
          "BEGIN:VCARD\n"
          "VERSION:2.1\n"
          "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:Ara=C3=BAjo;Jo=C3=A3o;;;\n"
          "TEL;CELL;PREF:21988887777\n"
          "NOTE;ENCODING=QUOTED-PRINTABLE:Nota com acentua=C3=A7=C3=A3o dividida=\n"
          " em duas linhas\n"
          "END:VCARD\n"
          "texto solto\n"
          "BEGIN:VCARD\n"
          "VERSION:3.0\n"
          "FN:Cortado\n"
          "TEL:31 3333-2222\n";
    QTemporaryDir out;
    const QString file = out.filePath(QStringLiteral("feitos-a-mao.vcf"));
    writeFile(file, cards);
    ContactImport::Preview preview;
    QString error;
    QVERIFY2(ContactImport::read(file, r.reg(), QStringLiteral("11"), &preview, &error), qPrintable(error));
    const QList<ContactRecord> expected = {
        contact(QStringLiteral("Maria da Conceição Souza"), QStringLiteral("+55-11-98765-4321"),
            QStringLiteral("Rua das Flores, 12"), QStringLiteral("Apto 3"), {}, QStringLiteral("São Paulo"),
            QStringLiteral("SP"), QStringLiteral("01310-100"),
            QStringLiteral("Primeira linha\nSegunda; com ponto e vírgula\nOutros telefones: (11) 3333-4444, "
                           "11 2222-1111")),
        contact(QStringLiteral("João Araújo"), QStringLiteral("21988887777"), {}, {}, {}, {}, {}, {},
            QStringLiteral("Nota com acentuação dividida em duas linhas")),
    };
    QCOMPARE(recordsOf(preview.toAdd), expected);
    QCOMPARE(linesOf(preview.toAdd), QList<int>({ 1, 13 }));
    QCOMPARE(linesOf(preview.damaged), QList<int>({ 20, 21 }));
}

void TestContactTransfer::importSkipsDuplicatesAndDamagedRowsWithTheirLines()
{
    REGISTER_FIXTURE(r);
    r.add(contact(QStringLiteral("Já cadastrada"), QStringLiteral("(11)3333-4444")));
    const QByteArray csv = "nome;telefone;cidade\r\n"
                           "Nova;(11) 2222-1111;Santos\r\n" // 2: added
                           "Mesma de outro jeito;3333.4444;Santos\r\n" // 3: in the register (area 11)
                           "Repetida no arquivo;011 2222 1111;Santos\r\n" // 4: as line 2
                           "Campos demais;1;2;3;4\r\n" // 5: damaged
                           ";;\r\n" // 6: blank, ignored
                           "Sem telefone;;Santos\r\n" // 7: added
                           "\"Aspas abertas;31 3333-2222;BH\r\n"; // 8: damaged to the end
    QTemporaryDir out;
    const QString file = out.filePath(QStringLiteral("lista.csv"));
    writeFile(file, csv);
    ContactImport::Preview preview;
    QString error;
    QVERIFY2(ContactImport::read(file, r.reg(), QStringLiteral("11"), &preview, &error), qPrintable(error));
    QCOMPARE(linesOf(preview.toAdd), QList<int>({ 2, 7 }));
    QCOMPARE(linesOf(preview.duplicates), QList<int>({ 3, 4 }));
    QCOMPARE(linesOf(preview.damaged), QList<int>({ 5, 8 }));
    QCOMPARE(preview.format, QStringLiteral("CSV (UTF-8, separador ;)"));
    QVERIFY(preview.duplicates.at(1).damage.contains(QLatin1String("linha 2")));
    const QString shown = ContactImport::describe(preview);
    QVERIFY2(shown.contains(QStringLiteral("2 contatos a importar, 2 repetidos")), qPrintable(shown));
    QVERIFY2(shown.contains(QStringLiteral("linha 5")), qPrintable(shown));
    QVERIFY(ContactImport::write(r.reg(), preview, false, {}, &error));
    qint64 count = 0;
    QVERIFY(r.reg().count(&count, &error));
    QCOMPARE(count, 3);
}

void TestContactTransfer::excelSeparatorLineIsHonoured()
{
    REGISTER_FIXTURE(r);
    QTemporaryDir out;
    const QString file = out.filePath(QStringLiteral("excel.csv"));
    // Excel's line naming the separator, then a header whose cells hold commas.
    writeFile(file, "sep=;\r\nNome;Telefone;Endere\xe7o\r\nAna;(11)3333-4444;Rua A, 10\r\n");
    ContactImport::Preview preview;
    QString error;
    QVERIFY2(ContactImport::read(file, r.reg(), QStringLiteral("11"), &preview, &error), qPrintable(error));
    QCOMPARE(recordsOf(preview.toAdd),
        QList<ContactRecord>(
            { contact(QStringLiteral("Ana"), QStringLiteral("(11)3333-4444"), QStringLiteral("Rua A, 10")) }));
    QCOMPARE(linesOf(preview.toAdd), QList<int>({ 3 }));
}

void TestContactTransfer::importWritesNothingUnlessConfirmed()
{
    REGISTER_FIXTURE(r);
    QTemporaryDir out;
    const QString file = out.filePath(QStringLiteral("lista.csv"));
    writeFile(file, "nome,telefone\nAna,(11)3333-4444\nBia,(11)98888-7777\n");
    // No terminal to ask on, and no --yes: nothing is written.
    Run run = zuna({ QStringLiteral("--data-dir"), r.data().path(), QStringLiteral("--import-contacts"), file });
    QCOMPARE(run.status, 1);
    QVERIFY2(run.out.contains(QLatin1String("2 contatos a importar")), qPrintable(run.out));
    QVERIFY2(run.err.contains(QLatin1String("--yes")), qPrintable(run.err));
    qint64 count = -1;
    QString error;
    QVERIFY(r.reg().count(&count, &error));
    QCOMPARE(count, 0);
    // A file that is not a contact list changes nothing either.
    writeFile(file, "x,y\n1,2\n");
    run = zuna({ QStringLiteral("--data-dir"), r.data().path(), QStringLiteral("--import-contacts"), file,
        QStringLiteral("--yes") });
    QCOMPARE(run.status, 1);
    QVERIFY(r.reg().count(&count, &error));
    QCOMPARE(count, 0);
}

void TestContactTransfer::cellsAreNeutralisedForSpreadsheets_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("cell");
    QTest::newRow("formula") << QStringLiteral("=1+1") << QStringLiteral("'=1+1");
    QTest::newRow("plus") << QStringLiteral("+55 11 3333-4444") << QStringLiteral("'+55 11 3333-4444");
    QTest::newRow("minus") << QStringLiteral("-2") << QStringLiteral("'-2");
    QTest::newRow("at") << QStringLiteral("@SUM(A1)") << QStringLiteral("'@SUM(A1)");
    QTest::newRow("tab") << QStringLiteral("\t=1") << QStringLiteral("'\t=1");
    QTest::newRow("carriage return") << QStringLiteral("\r=1") << QStringLiteral("\"'\r=1\"");
    QTest::newRow("apostrophe") << QStringLiteral("'texto") << QStringLiteral("''texto");
    QTest::newRow("plain") << QStringLiteral("Ana = Bia") << QStringLiteral("Ana = Bia");
    QTest::newRow("quoted") << QStringLiteral("=\"a\",b") << QStringLiteral("\"'=\"\"a\"\",b\"");
    QTest::newRow("empty") << QString() << QString();
}

void TestContactTransfer::cellsAreNeutralisedForSpreadsheets()
{
    QFETCH_GLOBAL(QString, backend);
    if (backend != QLatin1String("sqlite"))
        QSKIP("no register involved");
    QFETCH(QString, text);
    QFETCH(QString, cell);
    QCOMPARE(CsvText::field(text), cell);
    QCOMPARE(CsvText::restored(CsvText::neutralised(text)), text);
}

void TestContactTransfer::unclearColumnsAreAskedOrMapped_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("stored"); // name|phone|street|complement|city
    const QStringList all = { QStringLiteral("Ana|(11)3333-4444|Rua A|Casa 2|Santos") };
    const QStringList noComplement = { QStringLiteral("Ana|(11)3333-4444|Rua A||Santos") };
    const QString yes = QStringLiteral("--yes"), map = QStringLiteral("--map");
    // The file's columns: Quem, Numero (unknown), Rua, Endereço (both street).
    QTest::newRow("answered by number, name and Enter")
        << QStringList() << QByteArray("1\ntelefone\n\ncomplemento\ns\n") << 0 << all;
    QTest::newRow("a wrong answer is asked again")
        << QStringList() << QByteArray("9x\nnome\n2\n\npular\ns\n") << 0 << noComplement;
    QTest::newRow("--map for a script, the rest as taken") << QStringList { map, QStringLiteral("Quem=nome"), map,
        QStringLiteral("2=fone"), map, QStringLiteral("endereco=complemento"), yes }
                                                           << QByteArray() << 0 << all;
    QTest::newRow("--map, then asked for the rest")
        << QStringList { map, QStringLiteral("quem=1"), map, QStringLiteral("Numero=telefone") }
        << QByteArray("\npular\ns\n") << 0 << noComplement;
    QTest::newRow("--yes leaves unknown columns out: no name nor phone")
        << QStringList { yes } << QByteArray() << 1 << QStringList();
    QTest::newRow("the input ends before the answers") << QStringList() << QByteArray("1\n") << 1 << QStringList();
    QTest::newRow("--map names a column the file lacks")
        << QStringList { map, QStringLiteral("Idade=nome"), yes } << QByteArray() << 1 << QStringList();
    QTest::newRow("--map names no field") << QStringList { map, QStringLiteral("Quem=idade"), yes } << QByteArray() << 2
                                          << QStringList(); // a usage error
}

void TestContactTransfer::unclearColumnsAreAskedOrMapped()
{
    REGISTER_FIXTURE(r);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(int, status);
    QFETCH(QStringList, stored);
    QTemporaryDir out;
    const QString file = out.filePath(QStringLiteral("lista.csv"));
    writeFile(file, "Quem;Numero;Rua;Endere\xc3\xa7o;Cidade\r\nAna;(11)3333-4444;Rua A;Casa 2;Santos\r\n");
    const Run run
        = zuna(QStringList { QStringLiteral("--data-dir"), r.data().path(), QStringLiteral("--import-contacts"), file }
                + arguments,
            input);
    QVERIFY2(run.status == status, qPrintable(run.out + run.err));
    QStringList found;
    for (const ContactRecord &c : contactsOf(r.reg()))
        found << QStringList { c.a1, c.a4, c.a9, c.a10, c.a12 }.join(QLatin1Char('|'));
    QCOMPARE(found, stored);
}

void TestContactTransfer::headerNamesInPortugueseAndEnglish_data()
{
    QTest::addColumn<QString>("header");
    QTest::addColumn<int>("column");
    using C = ContactCsv::Column;
    const std::pair<const char *, C> rows[] = {
        { "Nome", C::Name },
        { "NOME COMPLETO", C::Name },
        { "Full Name", C::Name },
        { "Telefone", C::Phone },
        { "Celular (WhatsApp)", C::Phone },
        { "Phone 1 - Value", C::Phone },
        { "Phone 1 - Type", C::Unknown },
        { "Mobile Phone", C::Phone },
        { "Endereço", C::Street },
        { "Logradouro", C::Street },
        { "Bairro", C::District },
        { "Município", C::City },
        { "UF", C::State },
        { "CEP", C::Postcode },
        { "Zip Code", C::Postcode },
        { "Observações", C::Notes },
        { "Notes", C::Notes },
        { "First Name", C::GivenName },
        { "Sobrenome", C::FamilyName },
        { "Código", C::Code },
        { "Aniversário", C::Unknown },
    };
    for (const auto &[header, column] : rows)
        QTest::newRow(header) << QString::fromUtf8(header) << int(column);
}

void TestContactTransfer::headerNamesInPortugueseAndEnglish()
{
    QFETCH_GLOBAL(QString, backend);
    if (backend != QLatin1String("sqlite"))
        QSKIP("no register involved");
    QFETCH(QString, header);
    QFETCH(int, column);
    QCOMPARE(int(ContactCsv::columnFor(header)), column);
}

QTEST_GUILESS_MAIN(TestContactTransfer)
#include "TestContactTransfer.moc"
