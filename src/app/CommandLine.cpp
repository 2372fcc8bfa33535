#include "app/CommandLine.h"

#include <QCommandLineParser>

bool CommandLine::parse(const QStringList &arguments, CommandLine *result, QString *error)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption dataDir(QStringLiteral("data-dir"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption init(QStringLiteral("init"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    parser.addOptions({dataDir, init, help, version});

    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            *error = QStringLiteral("opção desconhecida: %1").arg(unknown.first());
        else
            *error = QStringLiteral("falta o valor da opção --data-dir (uma pasta)");
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("argumento inesperado: %1").arg(parser.positionalArguments().first());
        return false;
    }
    result->dataDir = parser.value(dataDir);
    result->init = parser.isSet(init);
    result->help = parser.isSet(help);
    result->version = parser.isSet(version);
    if (parser.isSet(dataDir) && result->dataDir.isEmpty()) {
        *error = QStringLiteral("a opção --data-dir precisa de uma pasta");
        return false;
    }
    return true;
}

QString CommandLine::helpText()
{
    return QStringLiteral(
        "Uso: zuna [opções]\n"
        "\n"
        "Zuna mostra quem está ligando antes do atendimento e mantém o cadastro de contatos.\n"
        "\n"
        "Opções:\n"
        "  --data-dir PASTA  usa esta pasta de dados (cadastro, DDD local, site.txt)\n"
        "  --init            cria na pasta de dados os arquivos que faltam e sai;\n"
        "                    nunca sobrescreve um arquivo existente\n"
        "  -h, --help        mostra esta ajuda e sai\n"
        "  -v, --version     mostra a versão e sai\n"
        "\n"
        "Sem --data-dir, a pasta de dados é a pasta do programa quando ela contém\n"
        "site.txt; senão, ~/.local/share/zuna.\n");
}

QString CommandLine::versionText()
{
    return QStringLiteral("zuna %1\n").arg(QStringLiteral(ZUNA_VERSION));
}
