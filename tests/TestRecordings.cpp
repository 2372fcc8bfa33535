#include "DtmfSignal.h"

#include "core/app/CommandLine.h"
#include "core/callerid/sources/AudioFileSource.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

#include <sndfile.h>

#include <cmath>
#include <limits>

// Line recordings as `zuna --decode` and the recording source read them:
// integer and floating-point samples at their true level, values beyond full
// scale clipped, NaN and infinities reported as damage, a file cut short
// decoded as far as it goes and reported.
class TestRecordings : public QObject
{
    Q_OBJECT

    static constexpr int Rate = 48000;

    // Messages one after the other, full scale 1.0.
    static std::vector<double> lineAudio(const QStringList &messages, double levelDbm0)
    {
        DtmfSignal signal;
        signal.rate = Rate;
        signal.levelDbm0 = levelDbm0;
        std::vector<double> out;
        for (const QString &m : messages) {
            for (const int16_t s : signal.render(m))
                out.push_back(s / 32768.0);
            ++signal.seed;
        }
        return out;
    }

    static void write(const QString &path, int format, const std::vector<double> &samples)
    {
        SF_INFO info {};
        info.samplerate = Rate;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | format;
        SNDFILE *f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
        if (!f)
            qFatal("cannot write %s: %s", qPrintable(path), sf_strerror(nullptr));
        // Written as they are: no normalisation, no clipping of floats.
        sf_command(f, SFC_SET_NORM_DOUBLE, nullptr, SF_TRUE);
        sf_command(f, SFC_SET_CLIPPING, nullptr, SF_TRUE);
        sf_write_double(f, samples.data(), sf_count_t(samples.size()));
        sf_close(f);
    }

    static QStringList decode(const QString &path, QString *damage)
    {
        QStringList found;
        QString error;
        if (!AudioFileSource::decodeFile(
                path, 8, [&](const CallerIdMessage &m) { found << m.raw; }, &error, nullptr, damage))
            found << QStringLiteral("<refused: %1>").arg(error);
        return found;
    }

private slots:
    void everySampleFormatKeepsItsLevel_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<double>("level"); // dBm0 per tone
        QTest::addColumn<QString>("trouble");
        QTest::addColumn<bool>("heard");
        QTest::addColumn<bool>("damaged");
        const int pcm16 = SF_FORMAT_PCM_16, pcm24 = SF_FORMAT_PCM_24, single = SF_FORMAT_FLOAT,
                  twice = SF_FORMAT_DOUBLE;
        QTest::newRow("16-bit") << pcm16 << -20.0 << "" << true << false;
        QTest::newRow("24-bit") << pcm24 << -20.0 << "" << true << false;
        QTest::newRow("float") << single << -20.0 << "" << true << false;
        QTest::newRow("double") << twice << -20.0 << "" << true << false;
        // Below the sensitivity's threshold in every format alike.
        QTest::newRow("16-bit, too quiet") << pcm16 << -60.0 << "" << false << false;
        QTest::newRow("float, too quiet") << single << -60.0 << "" << false << false;
        QTest::newRow("double, too quiet") << twice << -60.0 << "" << false << false;
        // One value far beyond full scale is clipped, not made the scale.
        QTest::newRow("float, one sample of 50") << single << -20.0 << "50" << true << false;
        QTest::newRow("double, one sample of -50") << twice << -20.0 << "-50" << true << false;
        // Values that are no numbers are damage: heard as silence, reported.
        QTest::newRow("float, one +inf") << single << -20.0 << "inf" << true << true;
        QTest::newRow("double, one -inf") << twice << -20.0 << "-inf" << true << true;
        QTest::newRow("float, NaN every fifth sample") << single << -20.0 << "nan/5" << true << true;
    }
    void everySampleFormatKeepsItsLevel()
    {
        QFETCH(int, format);
        QFETCH(double, level);
        QFETCH(QString, trouble);
        QFETCH(bool, heard);
        QFETCH(bool, damaged);
        std::vector<double> audio = lineAudio({ QStringLiteral("A1133334444C") }, level);
        const size_t before = size_t(0.1 * Rate); // in the silence before the message
        if (trouble == QLatin1String("nan/5")) {
            for (size_t i = 0; i < audio.size(); i += 5)
                audio[i] = std::numeric_limits<double>::quiet_NaN();
        } else if (trouble == QLatin1String("inf") || trouble == QLatin1String("-inf")) {
            audio[before] = (trouble.startsWith(u'-') ? -1 : 1) * std::numeric_limits<double>::infinity();
        } else if (!trouble.isEmpty()) {
            audio[before] = trouble.toDouble();
        }
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("linha.wav"));
        write(path, format, audio);
        QString damage;
        QCOMPARE(decode(path, &damage), heard ? QStringList { "A1133334444C" } : QStringList {});
        QVERIFY2(damage.contains(QLatin1String("danificadas")) == damaged, qPrintable(damage));
    }

    void aRecordingCutShortIsDecodedAsFarAsItGoes_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("16-bit") << int(SF_FORMAT_PCM_16);
        QTest::newRow("float") << int(SF_FORMAT_FLOAT);
    }
    void aRecordingCutShortIsDecodedAsFarAsItGoes()
    {
        QFETCH(int, format);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("linha.wav"));
        const std::vector<double> first = lineAudio({ QStringLiteral("A1133334444C") }, -20);
        std::vector<double> audio = first;
        const std::vector<double> second = lineAudio({ QStringLiteral("A2122223333C") }, -20);
        audio.insert(audio.end(), second.begin(), second.end());
        write(path, format, audio);
        QString damage;
        QCOMPARE(decode(path, &damage), (QStringList { "A1133334444C", "A2122223333C" }));
        QCOMPARE(damage, QString());

        // Cut in the middle of the second message: the data chunk still says
        // the whole length.
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        const qint64 bytesPerSample = format == SF_FORMAT_PCM_16 ? 2 : 4;
        QVERIFY(file.resize(file.size() - qint64(second.size() / 2) * bytesPerSample));
        file.close();
        QCOMPARE(decode(path, &damage), QStringList { "A1133334444C" });
        QVERIFY2(damage.contains(QLatin1String("cortada")), qPrintable(damage));

        // The command says so, and so does its exit status.
        QProcess zuna;
        zuna.start(QStringLiteral(ZUNA_BINARY),
            { QStringLiteral("--data-dir"), dir.path(), QStringLiteral("--decode"), path });
        QVERIFY(zuna.waitForFinished(30000));
        QCOMPARE(zuna.exitCode(), CommandLine::RecordingDamaged);
        const QString out = QString::fromUtf8(zuna.readAllStandardOutput());
        const QString err = QString::fromUtf8(zuna.readAllStandardError());
        QVERIFY2(out.contains(QStringLiteral("A1133334444C  número 1133334444")), qPrintable(out));
        QVERIFY2(out.contains(QLatin1String("1 mensagem encontrada")), qPrintable(out));
        QVERIFY2(err.contains(QStringLiteral("linha.wav está cortada")), qPrintable(err));
    }

    // Files --decode cannot read: a Portuguese sentence says what is wrong;
    // libsndfile's or the system's English is at most the detail after it.
    void anUnreadableRecordingIsToldInPortuguese_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("readable");
        QTest::addColumn<QString>("lead");
        const QString notSound
            = QStringLiteral("zuna: linha.wav não é uma gravação que o Zuna leia (WAV, FLAC ou OGG).");
        QTest::newRow("text") << QByteArray("não é som\n") << true << notSound;
        QTest::newRow("empty") << QByteArray() << true << notSound;
        QTest::newRow("a header and nothing after") << QByteArray("RIFF\x24\0\0\0WAVEfmt ", 16) << true << notSound;
        QTest::newRow("no permission") << QByteArray("RIFF") << false
                                       << QStringLiteral("zuna: Não foi possível abrir a gravação linha.wav.");
    }

    void anUnreadableRecordingIsToldInPortuguese()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, readable);
        QFETCH(QString, lead);
        if (!readable && geteuid() == 0)
            QSKIP("root reads every file");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("linha.wav"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        if (!readable)
            QVERIFY(file.setPermissions(QFile::WriteOwner));
        QProcess zuna;
        zuna.start(QStringLiteral(ZUNA_BINARY),
            { QStringLiteral("--data-dir"), dir.path(), QStringLiteral("--decode"), path });
        QVERIFY(zuna.waitForFinished(30000));
        QCOMPARE(zuna.exitCode(), 1);
        const QStringList lines
            = QString::fromUtf8(zuna.readAllStandardError()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY2(!lines.isEmpty(), "nothing said");
        QCOMPARE(lines.first(), lead);
        for (const QString &line : lines.mid(1))
            QVERIFY2(line.startsWith(QLatin1String("Detalhe: ")), qPrintable(line));
    }

    void decodeGivesBothReadingsOfDigitsThatReadTwoWays()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("linha.wav"));
        write(path, SF_FORMAT_PCM_16, lineAudio({ QStringLiteral("A11933334444C") }, -20));
        QProcess zuna;
        zuna.start(QStringLiteral(ZUNA_BINARY),
            { QStringLiteral("--data-dir"), dir.path(), QStringLiteral("--decode"), path });
        QVERIFY(zuna.waitForFinished(30000));
        QCOMPARE(zuna.exitCode(), 0);
        const QString out = QString::fromUtf8(zuna.readAllStandardOutput());
        QVERIFY2(
            out.contains(QStringLiteral("A11933334444C  número incerto: 11933334444 ou 1933334444")), qPrintable(out));
    }

    void theHelpAndTheManualNameTheSameFormats()
    {
        QFile manual(QStringLiteral(ZUNA_FIXTURES_DIR "/../../packaging/zuna.1"));
        QVERIFY(manual.open(QIODevice::ReadOnly));
        const QString page = QString::fromUtf8(manual.readAll());
        const QString help = CommandLine::helpText();
        for (const char *format : { "WAV", "FLAC", "OGG" }) {
            QVERIFY2(help.contains(QLatin1String(format)), format);
            QVERIFY2(page.contains(QLatin1String(format)), format);
        }
    }
};

QTEST_GUILESS_MAIN(TestRecordings)
#include "TestRecordings.moc"
