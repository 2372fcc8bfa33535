#include "DtmfSignal.h"
#include "FskSignal.h"

#include "core/callerid/DtmfDecoder.h"
#include "core/callerid/FskDecoder.h"

#include <QRandomGenerator>
#include <QTest>

#include <samplerate.h>
#include <spandsp.h>

#include <cmath>

// The receiver's limits for DTMF caller ID taken together, as a line gives
// them: each of the tones off by 1.5 % and 2 Hz, either tone weaker than the
// other, the dial tone, mains hum, noise and short tones at once. Every row
// is sent by our own generator and, separately, by spandsp's transmitter.
namespace {

constexpr int Rate = 8000;
constexpr double Level = -20; // dBm0, the stronger tone
constexpr int Messages = 8; // a row

struct Limits
{
    double error = 0; // relative
    double offsetHz = 0;
    double highWeaker = 0, lowWeaker = 0; // dB
    bool dial = false, hum = false, noise = false;
    int onMs = 70; // tones and pauses
};

// spandsp's transmitter keeps the DTMF frequencies exact: played at a
// rate that many times faster, every tone lies as far off as the offset puts
// its lowest one (697 Hz), so none is nearer than asked.
std::vector<int16_t> spandspRender(const QString &digits, const Limits &limits, quint32 seed)
{
    const double scale = 1.0 + limits.error + limits.offsetHz / 697.0;
    dtmf_tx_state_t *tx = dtmf_tx_init(nullptr);
    // The level is the low tone's; the twist is the high tone's level above it.
    const double low = Level - limits.lowWeaker, high = Level - limits.highWeaker;
    dtmf_tx_set_level(tx, int(std::lround(low)), int(std::lround(high - low)));
    const int onMs = int(std::ceil(limits.onMs * std::max(1.0, scale)));
    dtmf_tx_set_timing(tx, onMs, onMs);
    const QByteArray latin = digits.toLatin1();
    dtmf_tx_put(tx, latin.constData(), int(latin.size()));
    QRandomGenerator rng(seed);
    std::vector<int16_t> audio(size_t(Rate * (300 + rng.bounded(20)) / 1000), 0);
    int16_t block[160];
    int n = 0;
    while ((n = dtmf_tx(tx, block, 160)) > 0)
        audio.insert(audio.end(), block, block + n);
    audio.resize(audio.size() + Rate * 3 / 10, 0);
    dtmf_tx_free(tx);
    if (scale == 1.0)
        return audio;
    std::vector<float> in(audio.size()), out(size_t(double(audio.size()) / scale) + 16);
    src_short_to_float_array(audio.data(), in.data(), int(in.size()));
    SRC_DATA data {};
    data.data_in = in.data();
    data.input_frames = long(in.size());
    data.data_out = out.data();
    data.output_frames = long(out.size());
    data.src_ratio = 1.0 / scale;
    data.end_of_input = 1;
    if (src_simple(&data, SRC_SINC_BEST_QUALITY, 1) != 0)
        return {};
    std::vector<int16_t> played(size_t(data.output_frames_gen));
    src_float_to_short_array(out.data(), played.data(), int(played.size()));
    return played;
}

std::vector<int16_t> ourRender(const QString &digits, const Limits &limits, quint32 seed)
{
    DtmfSignal signal;
    signal.onMs = signal.offMs = limits.onMs;
    signal.levelDbm0 = Level;
    signal.highTwistDb = limits.highWeaker;
    signal.lowTwistDb = limits.lowWeaker;
    signal.frequencyError = limits.error;
    signal.frequencyOffsetHz = limits.offsetHz;
    signal.seed = seed;
    return signal.render(digits);
}

// What the line adds: the dial tone at the stronger tone's level, 60 Hz hum
// with its harmonics, white noise 20 dB under the two tones.
void impair(std::vector<int16_t> &audio, const Limits &limits, quint32 seed)
{
    if (limits.dial)
        DtmfSignal::addHum(audio, Rate, 425, Level - 3.14);
    if (limits.hum)
        DtmfSignal::addMainsHum(audio, Rate);
    if (limits.noise)
        DtmfSignal::addWhiteNoise(audio, 20, Level, seed + 100);
}

QString numberFor(quint32 seed)
{
    QRandomGenerator rng(seed * 7919);
    QString number = QString::number(11 + rng.bounded(89));
    for (int d = 0; d < 8; ++d)
        number += QChar(u'0' + rng.bounded(10));
    return number;
}

// One row's messages decoded: how many came out right, how many gave a
// number that was not sent.
void run(bool spandsp, const Limits &limits, int *right, int *wrong, QString *missed)
{
    *right = *wrong = 0;
    for (quint32 seed = 1; seed <= Messages; ++seed) {
        const QString number = numberFor(seed);
        const QString message = QLatin1Char('A') + number + QLatin1Char('C');
        std::vector<int16_t> audio = spandsp ? spandspRender(message, limits, seed) : ourRender(message, limits, seed);
        impair(audio, limits, seed);
        QStringList numbers;
        DtmfDecoder decoder(Rate, DtmfDecoder::DefaultSensitivity, [&](const CallerIdMessage &m) {
            if (m.kind == CallerIdMessage::Kind::Number)
                numbers << m.digits;
        });
        QString heard;
        decoder.setDigitHandler([&](char digit, qint64) { heard += QLatin1Char(digit); });
        for (size_t i = 0; i < audio.size(); i += 160)
            decoder.feed(audio.data() + i, std::min<size_t>(160, audio.size() - i));
        decoder.finish();
        if (numbers == QStringList { number })
            ++*right;
        else if (!numbers.isEmpty())
            ++*wrong;
        if (numbers != QStringList { number })
            *missed += QStringLiteral(" %1 heard as %2;").arg(message, heard);
    }
}

} // namespace

Q_DECLARE_METATYPE(Limits)
Q_DECLARE_METATYPE(FskSignal::Standard)

class TestDecoderLimits : public QObject
{
    Q_OBJECT

private slots:
    void everyPairOfLimitsDecodes_data()
    {
        QTest::addColumn<bool>("spandsp");
        QTest::addColumn<Limits>("limits");
        struct Named
        {
            const char *name;
            std::function<void(Limits &)> set;
        };
        const QList<Named> offsets = {
            { "+1.5 % +2 Hz", [](Limits &l) { l.error = 0.015, l.offsetHz = 2; } },
            { "-1.5 % -2 Hz", [](Limits &l) { l.error = -0.015, l.offsetHz = -2; } },
        };
        const QList<Named> twists = {
            { "high tone 8 dB weaker", [](Limits &l) { l.highWeaker = 8; } },
            { "low tone 4 dB weaker", [](Limits &l) { l.lowWeaker = 4; } },
        };
        const QList<Named> others = {
            { "dial tone", [](Limits &l) { l.dial = true; } },
            { "hum", [](Limits &l) { l.hum = true; } },
            { "S/N 20 dB", [](Limits &l) { l.noise = true; } },
            { "40 ms", [](Limits &l) { l.onMs = 40; } },
        };
        struct Row
        {
            QString name;
            Limits limits;
        };
        QList<Row> rows;
        auto add = [&](const QList<const Named *> &parts) {
            Limits limits;
            QStringList names;
            for (const Named *p : parts) {
                p->set(limits);
                names << QString::fromLatin1(p->name);
            }
            rows.append({ names.join(QStringLiteral(", ")), limits });
        };
        for (const Named &o : offsets) {
            for (const Named &t : twists)
                add({ &o, &t });
            for (const Named &x : others)
                add({ &o, &x });
        }
        for (const Named &t : twists) {
            for (const Named &x : others)
                add({ &t, &x });
        }
        for (qsizetype a = 0; a < others.size(); ++a) {
            for (qsizetype b = a + 1; b < others.size(); ++b)
                add({ &others[a], &others[b] });
        }
        // Everything at once: a 40 ms tone 1.8 % off, 8 dB under the other,
        // among hum, dial tone and noise. Such a tone fills only two whole
        // windows, and the stronger tone spills into the weaker one's filters.
        for (const Named &o : offsets) {
            for (const Named &t : twists)
                add({ &o, &t, &others[0], &others[1], &others[2], &others[3] });
        }
        // Beyond the limits above, alone: the low tone 6 dB weaker.
        const Named lowSix = { "low tone 6 dB weaker", [](Limits &l) { l.lowWeaker = 6; } };
        add({ &lowSix });
        for (const Row &row : rows) {
            QTest::addRow("%s (ours)", qPrintable(row.name)) << false << row.limits;
            QTest::addRow("%s (spandsp)", qPrintable(row.name)) << true << row.limits;
        }
    }
    void everyPairOfLimitsDecodes()
    {
        QFETCH(bool, spandsp);
        QFETCH(Limits, limits);
        int right = 0, wrong = 0;
        QString missed;
        run(spandsp, limits, &right, &wrong, &missed);
        QVERIFY2(wrong == 0, qPrintable(QStringLiteral("%1 wrong numbers:%2").arg(wrong).arg(missed)));
        QVERIFY2(
            right == Messages, qPrintable(QStringLiteral("%1 of %2 decoded:%3").arg(right).arg(Messages).arg(missed)));
    }

    // FSK in white noise 10 dB under the signal: the decoder hears at least
    // as many messages as spandsp's bare receiver for the standard sent, on
    // the same audio. The decoder's hum filter must cost none of them.
    void fskInNoiseAsWellAsTheBareReceiver_data()
    {
        QTest::addColumn<FskSignal::Standard>("standard");
        QTest::addColumn<int>("adsiStandard");
        QTest::newRow("V.23") << FskSignal::Standard::V23 << int(ADSI_STANDARD_CLIP);
        QTest::newRow("Bell 202") << FskSignal::Standard::Bell202 << int(ADSI_STANDARD_CLASS);
    }
    void fskInNoiseAsWellAsTheBareReceiver()
    {
        QFETCH(FskSignal::Standard, standard);
        QFETCH(int, adsiStandard);
        const QByteArray message = FskSignal::mdmf({ { 0x01, "12081030" }, { 0x02, "1133334444" } });
        int ours = 0, bare = 0, wrong = 0;
        constexpr int Calls = 30;
        for (quint32 seed = 1; seed <= Calls; ++seed) {
            FskSignal signal;
            signal.standard = standard;
            signal.seed = seed;
            std::vector<int16_t> audio = signal.render(message);
            DtmfSignal::addWhiteNoise(audio, 10, signal.levelDbm0 - 3.0, seed + 500); // one tone, not two
            FskDecoder decoder(
                Rate, [&](const CallerIdMessage &m) { (m.digits == QLatin1String("1133334444") ? ours : wrong) += 1; });
            for (size_t i = 0; i < audio.size(); i += 160)
                decoder.feed(audio.data() + i, std::min<size_t>(160, audio.size() - i));
            decoder.finish();
            adsi_rx_state_t *rx = adsi_rx_init(
                nullptr, adsiStandard, [](void *user, const uint8_t *, int) { ++*static_cast<int *>(user); }, &bare);
            for (size_t i = 0; i < audio.size(); i += 160)
                adsi_rx(rx, audio.data() + i, int(std::min<size_t>(160, audio.size() - i)));
            adsi_rx_free(rx);
        }
        QCOMPARE(wrong, 0);
        QVERIFY2(ours >= bare,
            qPrintable(QStringLiteral("decoder %1, bare receiver %2 of %3").arg(ours).arg(bare).arg(Calls)));
        qInfo("decoder %d, bare receiver %d of %d", ours, bare, Calls);
    }
};

QTEST_GUILESS_MAIN(TestDecoderLimits)
#include "TestDecoderLimits.moc"
