#include "core/app/CommandLine.h"

#include "core/app/WindowCommands.h"
#include "core/callerid/CallerIdSettings.h"
#include "core/contacts/ContactCsv.h"
#include "core/contacts/PhoneNumber.h"

#include <QCommandLineParser>

namespace {

QStringList fieldNames()
{
    QStringList names;
    for (const auto &choice : ContactCsv::choices())
        names << choice.second;
    return names;
}

// What `--call` takes: 2 to 20 ASCII digits, with the separators people write.
bool looksLikeNumber(const QString &text)
{
    int digits = 0;
    for (const QChar c : text) {
        if (c >= u'0' && c <= u'9')
            ++digits;
        else if (!QStringView(u" ()-.+").contains(c))
            return false;
    }
    return digits >= 2 && digits <= 20;
}

} // namespace

bool CommandLine::parse(const QStringList &arguments, CommandLine *result, QString *error)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption dataDir(QStringLiteral("data-dir"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption init(QStringLiteral("init"));
    const QCommandLineOption ddd(QStringLiteral("ddd"), QString(), QStringLiteral("AA"));
    const QCommandLineOption setup(QStringLiteral("callerid-setup"));
    const QCommandLineOption decode(QStringLiteral("decode"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption call(QStringLiteral("call"), QString(), QStringLiteral("NUMBER"));
    const QCommandLineOption database(QStringLiteral("database"), QString(), QStringLiteral("URL"));
    const QCommandLineOption copyRegister(QStringLiteral("copy-register"), QString(), QStringLiteral("URL"));
    const QCommandLineOption line(QStringLiteral("line"), QString(), QStringLiteral("SOURCE"));
    const QCommandLineOption open(QStringLiteral("abrir"), QString(), QStringLiteral("WINDOW"));
    const QCommandLineOption calls(QStringLiteral("chamadas"));
    const QCommandLineOption since(QStringLiteral("desde"), QString(), QStringLiteral("AAAA-MM-DD"));
    const QCommandLineOption csv(QStringLiteral("csv"));
    const QCommandLineOption backup(QStringLiteral("backup"));
    const QCommandLineOption restore(QStringLiteral("restore"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption exportContacts(QStringLiteral("export-contacts"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption importContacts(QStringLiteral("import-contacts"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption yes(QStringLiteral("yes"));
    const QCommandLineOption merge(QStringLiteral("merge"));
    const QCommandLineOption map(QStringLiteral("map"), QString(), QStringLiteral("COLUMN=FIELD"));
    const QCommandLineOption help(QStringList { QStringLiteral("h"), QStringLiteral("help") });
    const QCommandLineOption version(QStringList { QStringLiteral("v"), QStringLiteral("version") });
    parser.addOptions({ dataDir, init, ddd, setup, decode, call, database, copyRegister, line, calls, since, csv,
        backup, restore, exportContacts, importContacts, yes, merge, map, open, help, version });

    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            *error = QStringLiteral("opção desconhecida: %1").arg(unknown.first());
        else
            *error = QStringLiteral("falta o valor de uma opção (--data-dir PASTA, --decode ARQUIVO, --call NÚMERO, "
                                    "--database URL, --copy-register URL)");
        return false;
    }
    // --backup takes its file, when given, as the one plain argument.
    const QStringList plain = parser.positionalArguments();
    if (plain.size() > (parser.isSet(backup) ? 1 : 0)) {
        *error = QStringLiteral("argumento inesperado: %1").arg(plain.last());
        return false;
    }
    result->backup = parser.isSet(backup);
    result->backupFile = plain.value(0);
    result->restoreFile = parser.value(restore);
    result->exportFile = parser.value(exportContacts);
    result->importFile = parser.value(importContacts);
    result->yes = parser.isSet(yes);
    const int registerCommands = int(result->backup) + int(parser.isSet(restore)) + int(parser.isSet(exportContacts))
        + int(parser.isSet(importContacts));
    if (registerCommands > 1 || (registerCommands == 1 && (parser.isSet(init) || parser.isSet(copyRegister)))) {
        *error = QStringLiteral("as opções --backup, --restore, --export-contacts e --import-contacts são usadas "
                                "uma de cada vez");
        return false;
    }
    if ((parser.isSet(restore) && result->restoreFile.isEmpty())
        || (parser.isSet(exportContacts) && result->exportFile.isEmpty())
        || (parser.isSet(importContacts) && result->importFile.isEmpty())) {
        *error = QStringLiteral("as opções --restore, --export-contacts e --import-contacts precisam de um arquivo");
        return false;
    }
    if (parser.isSet(exportContacts) && !result->exportFile.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive)
        && !result->exportFile.endsWith(QLatin1String(".vcf"), Qt::CaseInsensitive)) {
        *error = QStringLiteral("a opção --export-contacts escreve um arquivo .csv ou .vcf");
        return false;
    }
    result->merge = parser.isSet(merge);
    if ((result->yes || result->merge) && !parser.isSet(importContacts)) {
        *error = QStringLiteral("as opções --yes e --merge acompanham --import-contacts");
        return false;
    }
    result->columnMap = parser.values(map);
    if (!result->columnMap.isEmpty() && !parser.isSet(importContacts)) {
        *error = QStringLiteral("a opção --map acompanha --import-contacts");
        return false;
    }
    for (const QString &m : std::as_const(result->columnMap)) {
        ContactCsv::Column field;
        const qsizetype eq = m.lastIndexOf(QLatin1Char('='));
        if (eq <= 0 || !ContactCsv::choiceFor(m.mid(eq + 1), &field)) {
            *error = QStringLiteral("--map %1: use COLUNA=CAMPO, com CAMPO um de %2")
                         .arg(m, fieldNames().join(QStringLiteral(", ")));
            return false;
        }
    }
    result->dataDir = parser.value(dataDir);
    result->init = parser.isSet(init);
    result->help = parser.isSet(help);
    result->version = parser.isSet(version);
    result->callerIdSetup = parser.isSet(setup);
    result->decodeFile = parser.value(decode);
    result->callNumber = parser.value(call);
    if (parser.isSet(call) && !result->callNumber.trimmed().isEmpty() && !looksLikeNumber(result->callNumber)) {
        *error = QStringLiteral("%1 não é um número de telefone (use só algarismos, e se quiser ( ) - . + e espaços)")
                     .arg(result->callNumber);
        return false;
    }
    if ((parser.isSet(decode) && result->decodeFile.isEmpty())
        || (parser.isSet(call) && result->callNumber.trimmed().isEmpty())) {
        *error = QStringLiteral("as opções --decode e --call precisam de um valor");
        return false;
    }
    result->areaCode = parser.value(ddd);
    if (parser.isSet(ddd) && (!result->init || !PhoneNumber::isAreaCode(result->areaCode))) {
        *error = QStringLiteral(
            "a opção --ddd acompanha --init e precisa do DDD local, dois algarismos (ex.: --init --ddd 11)");
        return false;
    }
    result->databaseUrl = parser.value(database).trimmed();
    result->copyRegisterTo = parser.value(copyRegister).trimmed();
    if ((parser.isSet(database) && result->databaseUrl.isEmpty())
        || (parser.isSet(copyRegister) && result->copyRegisterTo.isEmpty())) {
        *error = QStringLiteral("as opções --database e --copy-register precisam do servidor "
                                "(ex.: postgresql://zuna@servidor/zuna ou service=zuna)");
        return false;
    }
    if (parser.isSet(copyRegister) && (result->init || parser.isSet(database))) {
        *error = QStringLiteral("a opção --copy-register é usada sozinha (com --data-dir, se preciso)");
        return false;
    }
    result->line = parser.value(line).trimmed();
    if (parser.isSet(line)) {
        CallerIdSettings check;
        if (!check.applyLine(result->line, error))
            return false;
    }
    result->listCalls = parser.isSet(calls);
    result->open = parser.value(open);
    if (parser.isSet(open) && !WindowCommands::isCommand(result->open)) {
        *error = QStringLiteral("a opção --abrir abre chamadas ou configuracao, não \"%1\"").arg(result->open);
        return false;
    }
    result->csv = parser.isSet(csv);
    result->callsSince = QDate::fromString(parser.value(since), QStringLiteral("yyyy-MM-dd"));
    if ((parser.isSet(since) || result->csv) && !result->listCalls) {
        *error = QStringLiteral("as opções --desde e --csv acompanham --chamadas");
        return false;
    }
    if (parser.isSet(since) && !result->callsSince.isValid()) {
        *error = QStringLiteral("a opção --desde precisa de uma data AAAA-MM-DD (ex.: --desde 2026-12-01)");
        return false;
    }
    if (parser.isSet(dataDir) && result->dataDir.isEmpty()) {
        *error = QStringLiteral("a opção --data-dir precisa de uma pasta");
        return false;
    }
    return true;
}

QString CommandLine::helpText()
{
    return QStringLiteral("Uso: zuna [opções]\n"
                          "\n"
                          "Zuna mostra quem está ligando antes do atendimento e mantém o cadastro de contatos.\n"
                          "\n"
                          "Opções:\n"
                          "  --data-dir PASTA  usa esta pasta de dados (cadastro, DDD local, site.txt)\n"
                          "  --init            cria na pasta de dados os arquivos que faltam e sai;\n"
                          "                    nunca sobrescreve um arquivo existente; traz CADA.MDB e\n"
                          "                    ddd.MDB do sistema anterior quando estão na pasta\n"
                          "  --ddd AA          com --init: grava AA como o DDD local (o código de área\n"
                          "                    desta mesa, ex.: 11); sem ele, digite-o no campo DDD\n"
                          "  --database URL    usa o cadastro do servidor PostgreSQL URL nesta execução\n"
                          "                    (ex.: postgresql://zuna@servidor/zuna ou service=zuna; a\n"
                          "                    senha fica em ~/.pgpass); com --init: cria o cadastro no\n"
                          "                    servidor e grava registro.ini para esta mesa usá-lo\n"
                          "  --copy-register URL  copia o cadastro e o DDD local desta pasta de dados\n"
                          "                    para o cadastro vazio do servidor URL, códigos mantidos\n"
                          "  --line FONTE      usa nesta execução esta linha do identificador de chamadas,\n"
                          "                    sem mudar callerid.ini: som[:DISPOSITIVO], arquivo:ARQUIVO,\n"
                          "                    modem:PORTA, ncid:SERVIDOR[:PORTA], sip:USUÁRIO@SERVIDOR[:PORTA]\n"
                          "                    (registra a conta; senha no arquivo sip-senha da pasta de\n"
                          "                    dados) ou sip-escuta:[ENDEREÇO:]PORTA (recebe INVITEs diretos)\n"
                          "  --chamadas        mostra o histórico de chamadas, da mais antiga à mais\n"
                          "                    recente, e sai\n"
                          "  --desde AAAA-MM-DD  com --chamadas: só as chamadas desde esse dia\n"
                          "  --csv             com --chamadas: em CSV (UTF-8, com cabeçalho)\n"
                          "  --backup [ARQUIVO]  faz agora uma cópia do cadastro (também do servidor),\n"
                          "                    verificada, em ARQUIVO (.sqlite, ou .gz compactado) ou,\n"
                          "                    sem ARQUIVO, na pasta de cópias (backups), e sai\n"
                          "  --restore ARQUIVO  põe a cópia ARQUIVO no lugar do cadastro, depois de\n"
                          "                    verificá-la e guardar o cadastro atual como mais uma cópia\n"
                          "  --export-contacts ARQUIVO  grava os contatos em ARQUIVO.csv (UTF-8) ou\n"
                          "                    ARQUIVO.vcf (vCard 4.0)\n"
                          "  --import-contacts ARQUIVO  traz contatos de um CSV ou vCard: mostra o que\n"
                          "                    será gravado e pergunta; com --yes grava sem perguntar;\n"
                          "                    os de telefone já cadastrado são pulados\n"
                          "  --merge           com --import-contacts, os de telefone já cadastrado\n"
                          "                    completam o contato cadastrado: um campo vazio recebe o\n"
                          "                    do arquivo; um campo preenchido fica como está e o valor\n"
                          "                    diferente do arquivo vai para as observações\n"
                          "  --map COLUNA=CAMPO  com --import-contacts, o campo da coluna COLUNA do CSV\n"
                          "                    (nome ou número): nome, telefone, endereco, complemento,\n"
                          "                    bairro, cidade, uf, cep, observacoes ou pular; repetível\n"
                          "  --callerid-setup  abre só a tela de configuração do identificador de chamadas\n"
                          "  --decode ARQUIVO  mostra as mensagens de identificação de chamadas de uma\n"
                          "                    gravação da linha (WAV, FLAC ou OGG), com o tempo e o número\n"
                          "                    de cada uma; sai com 3 se a gravação está cortada ou danificada\n"
                          "  --call NÚMERO     entrega um número ao Zuna em execução (monitor ativo, F1)\n"
                          "  --abrir chamadas|configuracao  abre a janela de chamadas ou a configuração\n"
                          "                    do identificador no Zuna em execução (ou ao iniciá-lo)\n"
                          "  -h, --help        mostra esta ajuda e sai\n"
                          "  -v, --version     mostra a versão e sai\n"
                          "\n"
                          "Sem --data-dir, a pasta de dados é a pasta do programa quando ela contém\n"
                          "site.txt; senão, ~/.local/share/zuna. Sem --database, o cadastro é o da\n"
                          "pasta de dados (cada.sqlite), ou o do servidor que registro.ini indica.\n");
}

QString CommandLine::versionText()
{
    return QStringLiteral("zuna %1\n").arg(QStringLiteral(ZUNA_VERSION));
}
