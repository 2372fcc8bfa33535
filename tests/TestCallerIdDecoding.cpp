#include "DtmfSignal.h"

#include "core/callerid/DtmfDecoder.h"
#include "core/callerid/DtmfMessageParser.h"
#include "core/callerid/LineSource.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sndfile.h>

Q_DECLARE_METATYPE(CallerIdMessage::Kind)

namespace {

QString describe(const CallerIdMessage &m)
{
    switch (m.kind) {
    case CallerIdMessage::Kind::Number: return m.digits;
    case CallerIdMessage::Kind::Withheld: return QStringLiteral("<withheld>");
    case CallerIdMessage::Kind::Unavailable: return QStringLiteral("<unavailable>");
    case CallerIdMessage::Kind::International: return QStringLiteral("<international>");
    case CallerIdMessage::Kind::Unreadable: return QStringLiteral("<unreadable>");
    }
    return {};
}

// Feeds a digit string with timings to the parser: each element is a digit,
// or a '|' for a pause longer than the inter-digit timeout.
QStringList parse(const QString &line)
{
    QStringList out;
    DtmfMessageParser parser([&](const CallerIdMessage &m) { out << describe(m); });
    qint64 t = 0;
    for (const QChar c : line) {
        if (c == u'|') {
            t += DtmfMessageParser::InterDigitTimeoutMs + 100;
            parser.advanceTo(t);
            continue;
        }
        parser.addDigit(c.toLatin1(), t);
        t += 140;
    }
    parser.finish();
    return out;
}

QStringList decode(
    const std::vector<int16_t> &audio, int rate, size_t chunk = 160, QList<CallerIdMessage> *all = nullptr)
{
    QStringList out;
    DtmfDecoder decoder(rate, DtmfDecoder::DefaultSensitivity, [&](const CallerIdMessage &m) {
        out << describe(m);
        if (all)
            all->append(m);
    });
    for (size_t i = 0; i < audio.size(); i += chunk)
        decoder.feed(audio.data() + i, std::min(chunk, audio.size() - i));
    decoder.finish();
    return out;
}

std::vector<int16_t> readWav(const QString &path, int *rate)
{
    SF_INFO info {};
    SNDFILE *f = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!f)
        return {};
    std::vector<int16_t> frames(size_t(info.frames * info.channels));
    sf_readf_short(f, frames.data(), info.frames);
    sf_close(f);
    *rate = info.samplerate;
    std::vector<int16_t> mono(size_t(info.frames));
    for (sf_count_t i = 0; i < info.frames; ++i)
        mono[size_t(i)] = frames[size_t(i * info.channels)];
    return mono;
}

const QString Message = QStringLiteral("A1133334444C");

} // namespace

class TestCallerIdDecoding : public QObject
{
    Q_OBJECT

private slots:
    void parserReadsEveryVariant_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("full") << "A1133334444C" << QStringList { "1133334444" };
        QTest::newRow("with redirect") << "A1133334444D2122223333C" << QStringList { "1133334444" };
        QTest::newRow("with info") << "A1133334444B11C" << QStringList { "1133334444" };
        QTest::newRow("hash terminator") << "A1133334444#" << QStringList { "1133334444" };
        QTest::newRow("bare number") << "1133334444#" << QStringList { "1133334444" };
        QTest::newRow("D number") << "D1133334444C" << QStringList { "1133334444" };
        QTest::newRow("B00") << "B00C" << QStringList { "<unavailable>" };
        QTest::newRow("B10") << "B10C" << QStringList { "<withheld>" };
        QTest::newRow("D1#") << "D1#" << QStringList { "<withheld>" };
        QTest::newRow("D2#") << "D2#" << QStringList { "<international>" };
        QTest::newRow("D3#") << "D3#" << QStringList { "<unavailable>" };
        QTest::newRow("stray leading digits") << "57A1133334444C" << QStringList { "1133334444" };
        QTest::newRow("restart on A") << "A1133A2122223333C" << QStringList { "2122223333" };
        QTest::newRow("missing terminator dropped") << "A1133334444|A2122223333C" << QStringList { "2122223333" };
        QTest::newRow("broken in the middle") << "A11333|34444C" << QStringList {};
        QTest::newRow("no terminator at the end") << "A1133334444" << QStringList {};
        QTest::newRow("terminator alone") << "C#" << QStringList {};
        QTest::newRow("over-long") << "A" + QString(30, u'1') + "C" << QStringList {};
        QTest::newRow("two calls") << "A1133334444C|A1133334444C" << QStringList { "1133334444", "1133334444" };
        for (const char code : { '0', '4', '5', '6', '7', '8', '9' })
            QTest::addRow("unknown code D%c#", code) << QStringLiteral("D%1#").arg(QLatin1Char(code)) << QStringList {};
    }
    void parserReadsEveryVariant()
    {
        QFETCH(QString, line);
        QFETCH(QStringList, expected);
        QCOMPARE(parse(line), expected);
    }

    void theReceiverLimitsAreMet_data()
    {
        // What a caller-ID receiver must hear and must not (ITU-T Q.24 / ETSI
        // ES 201 235-3 limits), each on three seeds.
        QTest::addColumn<int>("onMs");
        QTest::addColumn<double>("level");
        QTest::addColumn<double>("highTwist");
        QTest::addColumn<double>("lowTwist");
        QTest::addColumn<double>("frequencyError");
        QTest::addColumn<QString>("trouble");
        QTest::addColumn<bool>("heard");
        QTest::newRow("70/70") << 70 << -10.0 << 0.0 << 0.0 << 0.0 << "" << true;
        QTest::newRow("40 ms tones") << 40 << -10.0 << 0.0 << 0.0 << 0.0 << "" << true;
        QTest::newRow("18 ms tones not") << 18 << -10.0 << 0.0 << 0.0 << 0.0 << "" << false;
        QTest::newRow("-28 dBm0") << 70 << -28.0 << 0.0 << 0.0 << 0.0 << "" << true;
        QTest::newRow("-40 dBm0, inside the threshold") << 70 << -40.0 << 0.0 << 0.0 << 0.0 << "" << true;
        QTest::newRow("-45 dBm0, below the threshold, not") << 70 << -45.0 << 0.0 << 0.0 << 0.0 << "" << false;
        QTest::newRow("high tone 8 dB weaker") << 70 << -10.0 << 8.0 << 0.0 << 0.0 << "" << true;
        QTest::newRow("low tone 4 dB weaker") << 70 << -10.0 << 0.0 << 4.0 << 0.0 << "" << true;
        QTest::newRow("frequency +1.5 %") << 70 << -10.0 << 0.0 << 0.0 << 0.015 << "" << true;
        QTest::newRow("frequency -1.5 %") << 70 << -10.0 << 0.0 << 0.0 << -0.015 << "" << true;
        QTest::newRow("frequency +3.5 % not") << 70 << -10.0 << 0.0 << 0.0 << 0.035 << "" << false;
        QTest::newRow("frequency -3.5 % not") << 70 << -10.0 << 0.0 << 0.0 << -0.035 << "" << false;
        QTest::newRow("white noise, S/N 15 dB") << 70 << -20.0 << 0.0 << 0.0 << 0.0 << "noise" << true;
        QTest::newRow("dial tone at the tones' level") << 70 << -20.0 << 0.0 << 0.0 << 0.0 << "dial" << true;
        QTest::newRow("60 Hz hum with harmonics, louder than the tones")
            << 70 << -20.0 << 0.0 << 0.0 << 0.0 << "hum" << true;
        QTest::newRow("DC offset") << 70 << -20.0 << 0.0 << 0.0 << 0.0 << "dc" << true;
    }
    void theReceiverLimitsAreMet()
    {
        QFETCH(int, onMs);
        QFETCH(double, level);
        QFETCH(double, highTwist);
        QFETCH(double, lowTwist);
        QFETCH(double, frequencyError);
        QFETCH(QString, trouble);
        QFETCH(bool, heard);
        for (quint32 seed : { 1u, 2u, 3u }) {
            DtmfSignal signal;
            signal.onMs = signal.offMs = onMs;
            signal.levelDbm0 = level;
            signal.highTwistDb = highTwist;
            signal.lowTwistDb = lowTwist;
            signal.frequencyError = frequencyError;
            signal.seed = seed;
            std::vector<int16_t> audio = signal.render(Message);
            if (trouble == "noise")
                DtmfSignal::addWhiteNoise(audio, 15, level, seed);
            if (trouble == "dial")
                DtmfSignal::addHum(audio, 8000, 425, -20 - 3.14);
            if (trouble == "hum") {
                DtmfSignal::addHum(audio, 8000, 60, -10);
                DtmfSignal::addHum(audio, 8000, 180, -20);
                DtmfSignal::addHum(audio, 8000, 300, -26);
            }
            if (trouble == "dc")
                DtmfSignal::addDc(audio, 0.05);
            QCOMPARE(decode(audio, 8000), heard ? QStringList { "1133334444" } : QStringList {});
        }
    }

    void aDigitLostOrSplitNeverGivesANumber_data()
    {
        QTest::addColumn<int>("digit");
        QTest::addColumn<double>("gapMs"); // 0: the whole tone is lost
        QTest::addColumn<QStringList>("expected"); // what may come of it
        // A lost digit leaves a gap in the message's pace: an unreadable
        // call, never another caller's number.
        QTest::newRow("first digit lost") << 1 << 0.0 << QStringList { "<unreadable>" };
        QTest::newRow("a middle digit lost") << 6 << 0.0 << QStringList { "<unreadable>" };
        QTest::newRow("last digit lost") << 10 << 0.0 << QStringList { "<unreadable>" };
        // A gap of less than 10 ms does not split a digit.
        QTest::newRow("8 ms gap") << 6 << 8.0 << QStringList { "1133334444" };
        // Longer gaps may split it; the extra digit then breaks the pace.
        QTest::newRow("25 ms gap") << 6 << 25.0 << QStringList { "1133334444", "<unreadable>" };
        QTest::newRow("35 ms gap") << 4 << 35.0 << QStringList { "1133334444", "<unreadable>" };
    }
    void aDigitLostOrSplitNeverGivesANumber()
    {
        QFETCH(int, digit);
        QFETCH(double, gapMs);
        QFETCH(QStringList, expected);
        for (quint32 seed : { 1u, 2u, 3u }) {
            DtmfSignal signal;
            signal.seed = seed;
            std::vector<int16_t> audio = signal.render(Message);
            const double start = signal.toneStartMs(Message, digit) + (gapMs > 0 ? (signal.onMs - gapMs) / 2 : 0);
            const double length = gapMs > 0 ? gapMs : signal.onMs;
            std::fill(audio.begin() + long(start * 8), audio.begin() + long((start + length) * 8), int16_t(0));
            QStringList got;
            DtmfDecoder decoder(
                8000, DtmfDecoder::DefaultSensitivity, [&](const CallerIdMessage &m) { got << describe(m); });
            decoder.feed(audio.data(), audio.size());
            decoder.finish();
            QCOMPARE(got.size(), 1);
            QVERIFY2(expected.contains(got.first()), qPrintable(got.first())); // never another number
        }
    }

    void silenceAndDitherGiveTheSameDecode()
    {
        DtmfSignal signal;
        signal.levelDbm0 = -30;
        const std::vector<int16_t> silent = signal.render(Message);
        std::vector<int16_t> dithered = silent;
        QRandomGenerator rng(3);
        for (int16_t &x : dithered)
            x = int16_t(x + rng.bounded(3) - 1);
        QList<CallerIdMessage> a, b;
        QCOMPARE(decode(silent, 8000, 160, &a), QStringList { "1133334444" });
        QCOMPARE(decode(dithered, 8000, 160, &b), QStringList { "1133334444" });
        QCOMPARE(a.first().endMs, b.first().endMs);
    }

    void anUnreadableCallIsShownAsSuch()
    {
        QCOMPARE(LineSource::textFor(CallerIdMessage::Kind::Unreadable), QStringLiteral("Chamada com número ilegível"));
        QCOMPARE(parse(QStringLiteral("A113C")), QStringList { "<unreadable>" }); // too short for a number
        QCOMPARE(parse(QStringLiteral("A1133334444555555C")), QStringList { "<unreadable>" }); // too long
    }

    void anyRateAndAnyChunkSizeGiveTheSameResult_data()
    {
        QTest::addColumn<int>("rate");
        QTest::newRow("8 kHz") << 8000;
        QTest::newRow("44.1 kHz") << 44100;
        QTest::newRow("48 kHz") << 48000;
    }
    void anyRateAndAnyChunkSizeGiveTheSameResult()
    {
        QFETCH(int, rate);
        DtmfSignal signal;
        signal.rate = rate;
        const std::vector<int16_t> audio = signal.render(Message);
        QList<CallerIdMessage> reference;
        QCOMPARE(decode(audio, rate, 4096, &reference), QStringList { "1133334444" });
        for (size_t chunk : { size_t(1), size_t(7), size_t(160), size_t(1000) }) {
            QList<CallerIdMessage> got;
            QCOMPARE(decode(audio, rate, chunk, &got), QStringList { "1133334444" });
            QCOMPARE(got.first().endMs, reference.first().endMs);
        }
    }

    void theNumberComesSoonAfterTheFinalTone()
    {
        DtmfSignal signal;
        QList<CallerIdMessage> got;
        decode(signal.render(Message), 8000, 160, &got);
        QCOMPARE(got.size(), 1);
        const double finalToneStart = signal.toneStartMs(Message, Message.size() - 1);
        QVERIFY2(
            got.first().endMs - finalToneStart <= 40, qPrintable(QString::number(got.first().endMs - finalToneStart)));
    }

    void speechIsNeverTakenForDigits()
    {
        const QString espeak = QStandardPaths::findExecutable(QStringLiteral("espeak-ng"));
        QVERIFY2(!espeak.isEmpty(), "espeak-ng is needed (scripts/install-deps.sh installs it)");
        QTemporaryDir dir;
        const QString wav = dir.filePath(QStringLiteral("fala.wav"));
        const QString text = QStringLiteral(
            "Bom dia, aqui é da pizzaria. Eu queria pedir uma pizza grande de calabresa com borda recheada, "
            "e uma de quatro queijos. O endereço é rua das flores, número cento e vinte e três, apartamento "
            "quarenta e dois, no bairro Jardim América. Meu telefone é nove nove oito sete seis cinco quatro três. "
            "Por favor, mandem também dois refrigerantes de dois litros e troco para cem reais. ")
                                 .repeated(4);
        QProcess p;
        p.start(espeak, { QStringLiteral("-v"), QStringLiteral("pt-br"), QStringLiteral("-w"), wav, text });
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        int rate = 0;
        const std::vector<int16_t> speech = readWav(wav, &rate);
        QVERIFY2(speech.size() >= size_t(rate) * 60, qPrintable(QString::number(speech.size() / std::max(rate, 1))));
        int digits = 0;
        DtmfDecoder decoder(rate, DtmfDecoder::DefaultSensitivity, [](const CallerIdMessage &) {});
        decoder.setDigitHandler([&](char, qint64) { ++digits; });
        decoder.feed(speech.data(), speech.size());
        decoder.finish();
        QCOMPARE(digits, 0);
    }
};

QTEST_GUILESS_MAIN(TestCallerIdDecoding)
#include "TestCallerIdDecoding.moc"
