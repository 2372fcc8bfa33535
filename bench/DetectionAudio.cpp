#include "DetectionAudio.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace DetectionAudio {

// Speech and music: espeak-ng reading Portuguese in five voices, sox playing
// chords, a bass line and a melody; none of it holds a digit.
std::vector<int16_t> speechAndMusic(int minutes, const QString &dir, size_t *speechSamples)
{
    // Without them the loops below would never reach their length.
    for (const QString &program : { QStringLiteral("espeak-ng"), QStringLiteral("sox") }) {
        if (QStandardPaths::findExecutable(program).isEmpty()) {
            QTextStream(stdout) << program << " is needed for speech and music (apt-get install " << program << ")\n";
            std::exit(1);
        }
    }
    const QString wav = QDir(dir).filePath(QStringLiteral("fala.wav"));
    const QString text = QStringLiteral(
        "Bom dia, aqui é da pizzaria, qual é o seu pedido? Eu queria uma pizza grande de calabresa com borda "
        "recheada e um refrigerante de dois litros. O endereço é rua das flores, número cento e vinte e três, "
        "apartamento quarenta e dois, no bairro Jardim América. Vai demorar uns quarenta minutos. Obrigado, "
        "tchau. Alô, consultório da doutora Ana, boa tarde. Gostaria de marcar uma consulta para quinta-feira "
        "às três horas da tarde. Pode ser, qual é o nome do paciente? ");
    std::vector<int16_t> all;
    auto append = [&](const QString &file) {
        QProcess sox;
        sox.start(QStringLiteral("sox"),
            { QStringLiteral("-V1"), file, QStringLiteral("-t"), QStringLiteral("raw"), QStringLiteral("-r"),
                QStringLiteral("8000"), QStringLiteral("-e"), QStringLiteral("signed"), QStringLiteral("-b"),
                QStringLiteral("16"), QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-") });
        sox.waitForFinished(120000);
        const QByteArray raw = sox.readAllStandardOutput();
        const auto *s = reinterpret_cast<const int16_t *>(raw.constData());
        all.insert(all.end(), s, s + raw.size() / 2);
    };
    const size_t target = size_t(minutes) * 60 * 8000;
    for (int voice = 0; all.size() < target / 2; ++voice) {
        const QStringList voices = { QStringLiteral("pt-br"), QStringLiteral("pt-br+f3"), QStringLiteral("pt-br+m3"),
            QStringLiteral("pt-br+f5"), QStringLiteral("pt-br+m7") };
        QProcess::execute(QStringLiteral("espeak-ng"),
            { QStringLiteral("-v"), voices.at(voice % voices.size()), QStringLiteral("-s"),
                QString::number(130 + 15 * (voice % 5)), QStringLiteral("-p"), QString::number(30 + 10 * (voice % 5)),
                QStringLiteral("-w"), wav, text.repeated(6) });
        append(wav);
    }
    *speechSamples = all.size();
    const QString music = QDir(dir).filePath(QStringLiteral("musica.wav"));
    // Music as a radio or music on hold plays it: chords of plucked strings
    // on the degrees of a scale, a square-wave bass and a triangle melody,
    // with tremolo and reverberation.
    const double scale[] = { 261.63, 293.66, 329.63, 349.23, 392.00, 440.00, 493.88, 523.25 };
    for (int bar = 0; all.size() < target; ++bar) {
        const int root = (bar * 5) % 8, third = (root + 2) % 8, fifth = (root + 4) % 8;
        const double octave = bar % 3 == 0 ? 0.5 : bar % 3 == 1 ? 1.0 : 2.0;
        QStringList args = { QStringLiteral("-V1"), QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("8000"),
            music, QStringLiteral("synth"), QStringLiteral("4") };
        for (const double hz : { scale[root] * octave, scale[third] * octave, scale[fifth] * octave })
            args << QStringLiteral("pluck") << QString::number(hz, 'f', 2);
        args << QStringLiteral("square") << QString::number(scale[root] / 4, 'f', 2) << QStringLiteral("triangle")
             << QString::number(scale[(bar * 3 + 1) % 8] * 2, 'f', 2);
        args << QStringLiteral("tremolo") << QStringLiteral("5") << QStringLiteral("30") << QStringLiteral("reverb")
             << QStringLiteral("40") << QStringLiteral("gain") << QStringLiteral("-n") << QStringLiteral("-12");
        QProcess::execute(QStringLiteral("sox"), args);
        append(music);
    }
    all.resize(std::min(all.size(), target));
    return all;
}

std::vector<int16_t> resampled(const std::vector<int16_t> &audio8k, int rate, const QString &dir)
{
    const QString from = QDir(dir).filePath(QStringLiteral("de8k.raw"));
    const QString to = QDir(dir).filePath(QStringLiteral("para.raw"));
    QFile f(from);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(reinterpret_cast<const char *>(audio8k.data()), qint64(audio8k.size() * 2));
    f.close();
    const QStringList format = { QStringLiteral("-t"), QStringLiteral("raw"), QStringLiteral("-e"),
        QStringLiteral("signed"), QStringLiteral("-b"), QStringLiteral("16"), QStringLiteral("-c"), QStringLiteral("1"),
        QStringLiteral("-r") };
    QProcess::execute(QStringLiteral("sox"),
        QStringList { QStringLiteral("-V1") } + format + QStringList { QStringLiteral("8000"), from } + format
            + QStringList { QString::number(rate), to });
    QFile wide(to);
    wide.open(QIODevice::ReadOnly);
    const QByteArray bytes = wide.readAll();
    std::vector<int16_t> result(size_t(bytes.size() / 2));
    memcpy(result.data(), bytes.constData(), result.size() * 2);
    return result;
}

} // namespace DetectionAudio
