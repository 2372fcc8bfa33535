// zuna-generate DIR COUNT [SEED]: a data folder with COUNT realistic contacts.
#include "RegisterGenerator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        QTextStream(stderr) << "uso: zuna-generate PASTA QUANTIDADE [SEMENTE]\n";
        return 2;
    }
    QElapsedTimer timer;
    timer.start();
    QString error;
    if (!RegisterGenerator::generate(
            args.at(1), args.at(2).toLongLong(), args.size() > 3 ? args.at(3).toUInt() : 1, &error)) {
        QTextStream(stderr) << "zuna-generate: " << error << '\n';
        return 1;
    }
    QTextStream(stdout) << args.at(2) << " contatos em " << args.at(1) << " (" << timer.elapsed() << " ms)\n";
    return 0;
}
