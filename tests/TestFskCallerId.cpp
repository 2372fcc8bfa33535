#include "DtmfSignal.h"
#include "FskSignal.h"
#include "WavFile.h"

#include "core/callerid/FskDecoder.h"
#include "core/callerid/LineSource.h"
#include "core/callerid/sources/AudioFileSource.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sndfile.h>
#include <spandsp.h>

Q_DECLARE_METATYPE(FskSignal::Standard)

namespace {

using Fields = QList<QPair<int, QByteArray>>;

constexpr int DateTime = 0x01, Number = 0x02, NumberAbsent = 0x04, Name = 0x07;

QString describe(const CallerIdMessage &m)
{
    QString what;
    switch (m.kind) {
    case CallerIdMessage::Kind::Number: what = m.digits; break;
    case CallerIdMessage::Kind::Withheld: what = QStringLiteral("<withheld>"); break;
    case CallerIdMessage::Kind::Unavailable: what = QStringLiteral("<unavailable>"); break;
    default: what = QStringLiteral("<other>"); break;
    }
    return m.name.isEmpty() ? what : what + QLatin1Char('/') + m.name;
}

QStringList decode(const std::vector<int16_t> &audio, int rate, size_t chunk = 333)
{
    QStringList out;
    FskDecoder decoder(rate, [&](const CallerIdMessage &m) { out << describe(m); });
    for (size_t i = 0; i < audio.size(); i += chunk)
        decoder.feed(audio.data() + i, std::min(chunk, audio.size() - i));
    decoder.finish();
    return out;
}

// The same message by spandsp's own transmitter. A single data message's
// body goes in as one field; its length byte is set here.
std::vector<int16_t> spandspSignal(int standard, bool single, const Fields &fields)
{
    adsi_tx_state_t *tx = adsi_tx_init(nullptr, standard);
    uint8_t msg[256];
    int len = adsi_add_field(tx, msg, 0, single ? 0x04 : 0x80, nullptr, 0);
    for (const auto &[type, value] : fields)
        len = adsi_add_field(tx, msg, len, uint8_t(single ? 0 : type),
            reinterpret_cast<const uint8_t *>(value.constData()), int(value.size()));
    if (single)
        msg[1] = uint8_t(len - 2);
    adsi_tx_put_message(tx, msg, len);
    std::vector<int16_t> audio(2400, 0);
    int16_t block[160];
    int n = 0;
    while ((n = adsi_tx(tx, block, 160)) > 0)
        audio.insert(audio.end(), block, block + n);
    audio.insert(audio.end(), 2400, 0);
    adsi_tx_free(tx);
    return audio;
}

const Fields CallWithName = { { DateTime, "12081030" }, { Number, "1133334444" }, { Name, "MARIA DA SILVA" } };

} // namespace

class TestFskCallerId : public QObject
{
    Q_OBJECT

private slots:
    void spandspTransmitterMessagesAreRead_data()
    {
        QTest::addColumn<int>("standard");
        QTest::addColumn<bool>("single");
        QTest::addColumn<Fields>("fields");
        QTest::addColumn<QString>("expected");
        for (const auto &[standard, label] :
            { std::pair { int(ADSI_STANDARD_CLIP), "V.23" }, std::pair { int(ADSI_STANDARD_CLASS), "Bell 202" } }) {
            QTest::addRow("%s multiple, with name", label)
                << standard << false << CallWithName << QStringLiteral("1133334444/MARIA DA SILVA");
            QTest::addRow("%s multiple, withheld", label)
                << standard << false << Fields { { DateTime, "12081030" }, { NumberAbsent, "P" } }
                << QStringLiteral("<withheld>");
            QTest::addRow("%s multiple, unavailable", label)
                << standard << false << Fields { { DateTime, "12081030" }, { NumberAbsent, "O" } }
                << QStringLiteral("<unavailable>");
            QTest::addRow("%s single", label) << standard << true << Fields { { 0, "12081030" }, { 0, "21999998888" } }
                                              << QStringLiteral("21999998888");
            QTest::addRow("%s single, withheld", label)
                << standard << true << Fields { { 0, "12081030" }, { 0, "P" } } << QStringLiteral("<withheld>");
        }
    }

    void spandspTransmitterMessagesAreRead()
    {
        QFETCH(int, standard);
        QFETCH(bool, single);
        QFETCH(Fields, fields);
        QFETCH(QString, expected);
        QCOMPARE(decode(spandspSignal(standard, single, fields), 8000), QStringList { expected });
    }

    void ourOwnSignalIsReadThroughLineTrouble_data()
    {
        QTest::addColumn<FskSignal::Standard>("standard");
        QTest::addColumn<int>("rate");
        QTest::addColumn<double>("levelDbm0");
        QTest::addColumn<double>("snrDb"); // 0: no noise
        QTest::addColumn<double>("frequencyError");
        QTest::addColumn<bool>("hum"); // mains hum and its harmonics, as an adapter picks them up
        for (const auto &[standard, label] : { std::pair { FskSignal::Standard::V23, "V.23" },
                 std::pair { FskSignal::Standard::Bell202, "Bell 202" } }) {
            QTest::addRow("%s clean", label) << standard << 8000 << -13.0 << 0.0 << 0.0 << false;
            QTest::addRow("%s at -40 dBm0", label) << standard << 8000 << -40.0 << 0.0 << 0.0 << false;
            QTest::addRow("%s S/N 20 dB", label) << standard << 8000 << -13.0 << 20.0 << 0.0 << false;
            QTest::addRow("%s +2 %%", label) << standard << 8000 << -13.0 << 0.0 << 0.02 << false;
            QTest::addRow("%s -2 %%", label) << standard << 8000 << -13.0 << 0.0 << -0.02 << false;
            QTest::addRow("%s 44.1 kHz", label) << standard << 44100 << -13.0 << 0.0 << 0.0 << false;
            QTest::addRow("%s 48 kHz", label) << standard << 48000 << -13.0 << 0.0 << 0.0 << false;
            QTest::addRow("%s hum", label) << standard << 8000 << -13.0 << 0.0 << 0.0 << true;
            QTest::addRow("%s hum at -30 dBm0", label) << standard << 8000 << -30.0 << 0.0 << 0.0 << true;
            QTest::addRow("%s hum at -40 dBm0, 48 kHz", label) << standard << 48000 << -40.0 << 0.0 << 0.0 << true;
            QTest::addRow("%s all at once", label) << standard << 48000 << -40.0 << 20.0 << -0.02 << false;
        }
    }

    void ourOwnSignalIsReadThroughLineTrouble()
    {
        QFETCH(FskSignal::Standard, standard);
        QFETCH(int, rate);
        QFETCH(double, levelDbm0);
        QFETCH(double, snrDb);
        QFETCH(double, frequencyError);
        QFETCH(bool, hum);
        const auto addHum = [&](std::vector<int16_t> &audio) {
            if (!hum)
                return;
            DtmfSignal::addHum(audio, rate, 60, -10);
            DtmfSignal::addHum(audio, rate, 180, -20);
            DtmfSignal::addHum(audio, rate, 300, -26);
        };
        for (quint32 seed = 1; seed <= 3; ++seed) {
            FskSignal signal;
            signal.standard = standard;
            signal.rate = rate;
            signal.levelDbm0 = levelDbm0;
            signal.frequencyError = frequencyError;
            signal.seed = seed;
            std::vector<int16_t> audio = signal.render(FskSignal::mdmf(CallWithName));
            if (snrDb > 0)
                DtmfSignal::addWhiteNoise(audio, snrDb, levelDbm0 - 3.0, seed); // one tone, not two
            addHum(audio);
            QCOMPARE(decode(audio, rate), QStringList { QStringLiteral("1133334444/MARIA DA SILVA") });
        }
        FskSignal single;
        single.standard = standard;
        single.rate = rate;
        single.levelDbm0 = levelDbm0;
        single.frequencyError = frequencyError;
        std::vector<int16_t> unavailable = single.render(FskSignal::sdmf("12081030", "O"));
        addHum(unavailable);
        QCOMPARE(decode(unavailable, rate), QStringList { "<unavailable>" });
    }

    void aMessageWithABrokenChecksumIsDropped()
    {
        FskSignal signal;
        signal.checksumError = 1;
        QCOMPARE(decode(signal.render(FskSignal::mdmf(CallWithName)), 8000), QStringList());
        // A byte changed on the way, the checksum made for the original.
        FskSignal good;
        QByteArray message = FskSignal::mdmf(CallWithName);
        const char sum = FskSignal::checksum(message);
        message[message.indexOf("3333")] = '9';
        good.checksumError = uchar(sum) - uchar(FskSignal::checksum(message));
        QCOMPARE(decode(good.render(message), 8000), QStringList());
        signal.checksumError = 0;
        QCOMPARE(decode(signal.render(FskSignal::mdmf(CallWithName)), 8000).size(), 1);
    }

    void aMessageHeardByBothReceiversIsReportedOnce()
    {
        FskSignal signal;
        signal.standard = FskSignal::Standard::Bell202;
        std::vector<int16_t> audio = signal.render(FskSignal::mdmf(CallWithName));
        QCOMPARE(decode(audio, 8000).size(), 1);
    }

    void dtmfAndFskOnTheSameRecordingAreBothRead()
    {
        DtmfSignal dtmf;
        dtmf.rate = 48000;
        std::vector<int16_t> audio = dtmf.render(QStringLiteral("A2122223333C"));
        FskSignal fsk;
        fsk.rate = 48000;
        const std::vector<int16_t> second = fsk.render(FskSignal::mdmf(CallWithName));
        audio.insert(audio.end(), second.begin(), second.end());
        fsk.standard = FskSignal::Standard::Bell202;
        fsk.seed = 2;
        const std::vector<int16_t> third
            = fsk.render(FskSignal::mdmf({ { DateTime, "12081031" }, { Number, "1144445555" } }));
        audio.insert(audio.end(), third.begin(), third.end());
        QTemporaryDir dir;
        const QString wav = dir.filePath(QStringLiteral("linha.wav"));
        writeWav(wav, audio, 48000);
        QStringList heard;
        QString error;
        QVERIFY(AudioFileSource::decodeFile(
            wav, 8, [&](const CallerIdMessage &m) { heard << describe(m) + QLatin1Char(' ') + m.raw; }, &error));
        QCOMPARE(heard,
            QStringList({ QStringLiteral("2122223333 A2122223333C"),
                QStringLiteral("1133334444/MARIA DA SILVA FSK MDMF 08/12 10:30"),
                QStringLiteral("1144445555 FSK MDMF 08/12 10:31") }));

        // As a line source, the name travels with the number.
        AudioFileSource source(wav, 8, QStringLiteral("11"));
        QSignalSpy callers(&source, &LineSource::callerReceived);
        source.start();
        QTRY_COMPARE_WITH_TIMEOUT(callers.size(), 3, 10000);
        QCOMPARE(callers.at(0), QVariantList({ QStringLiteral("2122223333"), QString() }));
        QCOMPARE(callers.at(1), QVariantList({ QStringLiteral("1133334444"), QStringLiteral("MARIA DA SILVA") }));
    }

    void anyChunkSizeGivesTheSameResult()
    {
        FskSignal signal;
        signal.rate = 44100;
        const std::vector<int16_t> audio = signal.render(FskSignal::mdmf(CallWithName));
        for (const size_t chunk : { size_t(1), size_t(7), size_t(160), size_t(4096), audio.size() })
            QCOMPARE(decode(audio, 44100, chunk), QStringList { QStringLiteral("1133334444/MARIA DA SILVA") });
    }

    // The receivers rest while the line holds only noise; a message that
    // follows a long stretch of it, starting anywhere within the decoder's
    // 10 ms blocks, is read whole.
    void aMessageAfterLongNoiseIsRead_data()
    {
        QTest::addColumn<FskSignal::Standard>("standard");
        QTest::addColumn<int>("rate");
        QTest::addColumn<double>("noiseDbm0");
        QTest::addColumn<int>("offset"); // samples at 8 kHz before the message
        for (const auto &[standard, label] : { std::pair { FskSignal::Standard::V23, "V.23" },
                 std::pair { FskSignal::Standard::Bell202, "Bell 202" } }) {
            for (const double noise : { -60.0, -45.0, -33.0 }) {
                for (const int offset : { 0, 1, 29, 40, 79 })
                    QTest::addRow("%s noise %.0f dBm0, offset %d", label, noise, offset)
                        << standard << 8000 << noise << offset;
                QTest::addRow("%s noise %.0f dBm0, 48 kHz", label, noise) << standard << 48000 << noise << 13;
            }
        }
    }

    void aMessageAfterLongNoiseIsRead()
    {
        QFETCH(FskSignal::Standard, standard);
        QFETCH(int, rate);
        QFETCH(double, noiseDbm0);
        QFETCH(int, offset);
        FskSignal signal;
        signal.standard = standard;
        signal.rate = rate;
        signal.leadMs = 0;
        const std::vector<int16_t> message = signal.render(FskSignal::mdmf(CallWithName));
        std::vector<int16_t> audio(size_t(rate) * 30 + size_t(offset * rate / 8000), 0);
        audio.insert(audio.end(), message.begin(), message.end());
        audio.resize(audio.size() + size_t(rate), 0);
        // addWhiteNoise sets the noise against two tones: 3 dB less each.
        DtmfSignal::addWhiteNoise(audio, 0, noiseDbm0 - 3.0, quint32(offset + 1));
        for (const size_t chunk : { size_t(160), size_t(rate / 50), size_t(4093) })
            QCOMPARE(decode(audio, rate, chunk), QStringList { QStringLiteral("1133334444/MARIA DA SILVA") });
    }

    void speechIsNeverTakenForAMessage()
    {
        const QString espeak = QStandardPaths::findExecutable(QStringLiteral("espeak-ng"));
        QVERIFY2(!espeak.isEmpty(), "espeak-ng is needed (scripts/install-deps.sh installs it)");
        QTemporaryDir dir;
        const QString wav = dir.filePath(QStringLiteral("fala.wav"));
        const QString text = QStringLiteral(
            "Alô, boa tarde. Eu gostaria de saber se a farmácia ainda está aberta e se vocês entregam "
            "remédios no bairro Santa Cecília. O meu número é onze, nove oito sete seis, cinco quatro três dois. "
            "Obrigado, até logo. ")
                                 .repeated(6);
        QProcess p;
        p.start(espeak, { QStringLiteral("-v"), QStringLiteral("pt-br"), QStringLiteral("-w"), wav, text });
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        QStringList heard;
        QString error;
        QVERIFY2(AudioFileSource::decodeFile(
                     wav, 8, [&](const CallerIdMessage &m) { heard << describe(m); }, &error),
            qPrintable(error));
        QCOMPARE(heard, QStringList());
    }

    void silenceAndNoiseGiveNothingAndCostLittle_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<bool>("noise");
        QTest::addColumn<double>("minSpeed"); // times real time
        // The receivers are not run on silence, nor on noise, whose power is
        // not gathered in the FSK band.
        QTest::newRow("silence 8 kHz") << 8000 << false << 1000.0;
        QTest::newRow("silence 48 kHz") << 48000 << false << 1000.0;
        QTest::newRow("noise 8 kHz") << 8000 << true << 50.0;
        QTest::newRow("noise 48 kHz") << 48000 << true << 50.0;
    }

    void silenceAndNoiseGiveNothingAndCostLittle()
    {
        QFETCH(int, rate);
        QFETCH(bool, noise);
        QFETCH(double, minSpeed);
        constexpr int Seconds = 120;
        std::vector<int16_t> audio(size_t(rate) * Seconds, 0);
        if (noise)
            DtmfSignal::addWhiteNoise(audio, 0, -20, 5);
        int messages = 0;
        FskDecoder decoder(rate, [&](const CallerIdMessage &) { ++messages; });
        QElapsedTimer timer;
        timer.start();
        for (size_t i = 0; i < audio.size(); i += 4096)
            decoder.feed(audio.data() + i, std::min<size_t>(4096, audio.size() - i));
        decoder.finish();
        const double speed = Seconds * 1e9 / double(std::max<qint64>(timer.nsecsElapsed(), 1));
        qInfo("%s: %.0f times real time", QTest::currentDataTag(), speed);
        QCOMPARE(messages, 0);
        QVERIFY2(speed >= minSpeed, qPrintable(QString::number(speed)));
    }
};

QTEST_GUILESS_MAIN(TestFskCallerId)
#include "TestFskCallerId.moc"
