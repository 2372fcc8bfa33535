// bench-detection [--messages N] [--false-alarms MINUTES] [--speed MINUTES] [--line-speed MINUTES]
// The caller-ID detection grid: seeded messages "A" + 10 digits + "C" (70 ms
// tones and gaps unless a row says otherwise) under each impairment, decoded
// by Zuna, by bare spandsp dtmf_rx (its defaults, the same 8 kHz audio) and by
// multimon-ng (when installed; the same messages at its 22.05 kHz). Each row
// prints right / wrong / missed: a wrong number is the worst result, a missed
// one only means the attendant sees no name.
// --false-alarms: digits heard in speech (espeak-ng, pt-BR) and music (sox
// synthesis), which hold none.
// --speed: decoding time on a recording with exact digital silence between
// calls, with dither, and with noise, beside bare spandsp on the same audio;
// then the FSK decoder's time on silence, dither, noise at three levels and
// speech and music, at 8 and 48 kHz, beside spandsp's two bare ADSI receivers
// on the same 8 kHz audio; last, both decoders together at 48 and 8 kHz beside
// spandsp's three bare receivers at 8 kHz (--line-speed: only that).
// --false-alarms also counts the FSK messages heard in the speech and music.
#include "BenchSupport.h"
#include "DetectionAudio.h"
#include "DtmfSignal.h"
#include "FskSignal.h"

#include "core/callerid/DtmfDecoder.h"
#include "core/callerid/DtmfMessageParser.h"
#include "core/callerid/FskDecoder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

// The bare receivers get the signal cutoff Zuna sets, which adsi.h offers
// no setter for.
#define SPANDSP_EXPOSE_INTERNAL_STRUCTURES
extern "C" {
#include <spandsp.h>
}

#include <sys/resource.h>

#include <cmath>
#include <cstdlib>
#include <functional>

namespace {

QTextStream out(stdout);

constexpr int MultimonRate = 22050;

struct Row
{
    QString name;
    std::function<void(DtmfSignal &)> setUp; // the tones themselves
    std::function<void(std::vector<int16_t> &, const DtmfSignal &, const QString &)> impair; // what the line adds
    int sensitivity = DtmfDecoder::DefaultSensitivity;
    bool mustReject = false; // a row the decoders should not hear (a wrong tone)
};

struct Tally
{
    int right = 0, wrong = 0, missed = 0;
};

void addTone(std::vector<int16_t> &audio, int rate, double hz, double dbm0)
{
    const double amp = DtmfSignal::dbm0ToAmplitude(dbm0);
    for (size_t i = 0; i < audio.size(); ++i)
        audio[i] = int16_t(std::clamp<long long>(
            std::llround(audio[i] + amp * std::sin(2 * M_PI * hz * double(i) / rate)), -32768, 32767));
}

// Silence where the tone of digit `index` was (a lost digit), or a gap of
// `gapMs` in its middle (a split digit).
void cut(std::vector<int16_t> &audio, const DtmfSignal &s, const QString &digits, int index, double gapMs)
{
    const double start = s.toneStartMs(digits, index) + (gapMs > 0 ? (s.onMs - gapMs) / 2 : 0);
    const double length = gapMs > 0 ? gapMs : s.onMs;
    for (size_t i = size_t(start * s.rate / 1000); i < size_t((start + length) * s.rate / 1000) && i < audio.size();
         ++i)
        audio[i] = 0;
}

// What a decoder heard, judged against the number sent.
void judge(const QString &heardDigits, const QString &number, Tally *t)
{
    static const QRegularExpression message(QStringLiteral("A([0-9]+)[C#]"));
    bool right = false, wrong = false;
    for (auto it = message.globalMatch(heardDigits); it.hasNext();) {
        const QString got = it.next().captured(1);
        (got == number ? right : wrong) = true;
    }
    if (wrong)
        ++t->wrong;
    else if (right)
        ++t->right;
    else
        ++t->missed;
}

QString zuna(const std::vector<int16_t> &audio, int rate, int sensitivity, const QString &number, Tally *t,
    QList<qint64> *times = nullptr)
{
    QStringList numbers;
    QString digits;
    DtmfDecoder decoder(rate, sensitivity, [&](const CallerIdMessage &m) {
        if (m.kind == CallerIdMessage::Kind::Number)
            numbers << m.digits;
    });
    decoder.setDigitHandler([&](char d, qint64 atMs) {
        digits += QLatin1Char(d);
        if (times)
            *times << atMs;
    });
    decoder.feed(audio.data(), audio.size());
    decoder.finish();
    if (t) {
        if (numbers.contains(number) && numbers.size() == 1)
            ++t->right;
        else if (!numbers.isEmpty())
            ++t->wrong;
        else
            ++t->missed;
    }
    return digits;
}

QString bareSpandsp(const std::vector<int16_t> &audio)
{
    QString digits;
    dtmf_rx_state_t *rx = dtmf_rx_init(
        nullptr,
        [](void *user, const char *d, int len) {
            for (int i = 0; i < len; ++i)
                static_cast<QString *>(user)->append(QLatin1Char(d[i]));
        },
        &digits);
    std::vector<int16_t> copy = audio;
    for (size_t i = 0; i < copy.size(); i += 160)
        dtmf_rx(rx, copy.data() + i, int(std::min<size_t>(160, copy.size() - i)));
    dtmf_rx_free(rx);
    return digits;
}

QString multimon(const QString &program, const std::vector<int16_t> &audio22k, const QString &dir)
{
    const QString raw = QDir(dir).filePath(QStringLiteral("linha.raw"));
    QFile f(raw);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(reinterpret_cast<const char *>(audio22k.data()), qint64(audio22k.size() * sizeof(int16_t)));
    f.close();
    QProcess p;
    p.start(program,
        { QStringLiteral("-q"), QStringLiteral("-c"), QStringLiteral("-a"), QStringLiteral("DTMF"),
            QStringLiteral("-t"), QStringLiteral("raw"), raw });
    p.waitForFinished(60000);
    QString digits;
    for (const QByteArray &line : p.readAllStandardOutput().split('\n')) {
        if (line.startsWith("DTMF: "))
            digits += QString::fromLatin1(line.mid(6).trimmed());
    }
    return digits;
}

// Messages heard by the FSK decoder, fed 20 ms at a time as a sound card
// gives them.
int zunaFsk(const std::vector<int16_t> &audio, int rate, QList<qint64> *times = nullptr)
{
    int messages = 0;
    FskDecoder decoder(rate, [&](const CallerIdMessage &m) {
        ++messages;
        if (times)
            *times << m.endMs;
    });
    const auto chunk = size_t(rate / 50);
    for (size_t i = 0; i < audio.size(); i += chunk)
        decoder.feed(audio.data() + i, std::min(chunk, audio.size() - i));
    decoder.finish();
    return messages;
}

// spandsp's two ADSI receivers, V.23 and Bell 202, with Zuna's signal cutoff,
// fed the 8 kHz samples directly: the floor for the FSK decoder. Messages
// from either receiver are counted, so a call heard by both counts twice.
int bareAdsi(const std::vector<int16_t> &audio)
{
    int messages = 0;
    const auto count = [](void *user, const uint8_t *, int) { ++*static_cast<int *>(user); };
    adsi_rx_state_t *rx[] = { adsi_rx_init(nullptr, ADSI_STANDARD_CLIP, count, &messages),
        adsi_rx_init(nullptr, ADSI_STANDARD_CLASS, count, &messages) };
    std::vector<int16_t> copy = audio;
    for (adsi_rx_state_t *r : rx)
        fsk_rx_signal_cutoff(&r->fskrx, FskDecoder::SignalCutoffDbm0);
    for (size_t i = 0; i < copy.size(); i += 160) {
        for (adsi_rx_state_t *r : rx)
            adsi_rx(r, copy.data() + i, int(std::min<size_t>(160, copy.size() - i)));
    }
    for (adsi_rx_state_t *r : rx)
        adsi_rx_free(r);
    return messages;
}

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

QList<Row> grid()
{
    const auto none = [](std::vector<int16_t> &, const DtmfSignal &, const QString &) {};
    const auto keep = [](DtmfSignal &) {};
    auto level = [](double dbm0) { return [dbm0](DtmfSignal &s) { s.levelDbm0 = dbm0; }; };
    auto noise = [](double snr) {
        return [snr](std::vector<int16_t> &a, const DtmfSignal &s, const QString &) {
            DtmfSignal::addWhiteNoise(a, snr, s.levelDbm0, s.seed + 1000);
        };
    };
    auto freq = [](double e) { return [e](DtmfSignal &s) { s.frequencyError = e; }; };
    QList<Row> rows {
        { QStringLiteral("clean, -10 dBm0"), keep, none },
        { QStringLiteral("S/N 15 dB"), level(-20), noise(15) },
        { QStringLiteral("S/N 10 dB"), level(-20), noise(10) },
        { QStringLiteral("S/N 8 dB"), level(-20), noise(8) },
        { QStringLiteral("S/N 6 dB"), level(-20), noise(6) },
        { QStringLiteral("level -28 dBm0"), level(-28), none },
        { QStringLiteral("level -36 dBm0"), level(-36), none, 10 },
        { QStringLiteral("level -41.5 dBm0"), level(-41.5), none, 10 },
        { QStringLiteral("level -42 dBm0"), level(-42), none, 10 },
        { QStringLiteral("level -45 dBm0"), level(-45), none, 10 },
        { QStringLiteral("twist 4 dB (high weaker)"), [](DtmfSignal &s) { s.highTwistDb = 4; }, none },
        { QStringLiteral("twist 8 dB (high weaker)"), [](DtmfSignal &s) { s.highTwistDb = 8; }, none },
        { QStringLiteral("twist 10 dB (high weaker)"), [](DtmfSignal &s) { s.highTwistDb = 10; }, none },
        { QStringLiteral("reverse twist 4 dB"), [](DtmfSignal &s) { s.lowTwistDb = 4; }, none },
        { QStringLiteral("reverse twist 6 dB"), [](DtmfSignal &s) { s.lowTwistDb = 6; }, none },
        { QStringLiteral("frequency -1.5 %"), freq(-0.015), none },
        { QStringLiteral("frequency +1.5 %"), freq(0.015), none },
        { QStringLiteral("frequency -3.5 % (reject)"), freq(-0.035), none, DtmfDecoder::DefaultSensitivity, true },
        { QStringLiteral("frequency +3.5 % (reject)"), freq(0.035), none, DtmfDecoder::DefaultSensitivity, true },
        { QStringLiteral("60 Hz hum -10 dBFS, 3rd and 5th"), level(-20),
            [](std::vector<int16_t> &a, const DtmfSignal &s, const QString &) {
                DtmfSignal::addHum(a, s.rate, 60, -10);
                DtmfSignal::addHum(a, s.rate, 180, -20);
                DtmfSignal::addHum(a, s.rate, 300, -26);
            } },
        { QStringLiteral("dial tone 425 Hz at tone level"), level(-20),
            [](std::vector<int16_t> &a, const DtmfSignal &s, const QString &) {
                addTone(a, s.rate, 425, s.levelDbm0);
            } },
        { QStringLiteral("tones and gaps of 40 ms"), [](DtmfSignal &s) { s.onMs = s.offMs = 40; }, none },
        { QStringLiteral("a digit lost"), keep,
            [](std::vector<int16_t> &a, const DtmfSignal &s, const QString &m) { cut(a, s, m, 5, 0); } },
        { QStringLiteral("a digit split by 12 ms"), keep,
            [](std::vector<int16_t> &a, const DtmfSignal &s, const QString &m) { cut(a, s, m, 5, 12); } },
    };
    return rows;
}

void runGrid(int messages)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("multimon-ng"));
    QTemporaryDir dir;
    out << "right / wrong / missed of " << messages << " messages a row"
        << (program.isEmpty() ? " (multimon-ng not installed)" : "") << "\n";
    out << QStringLiteral("%1  %2  %3  %4\n")
               .arg(QStringLiteral("condition"), -34)
               .arg(QStringLiteral("Zuna"), -14)
               .arg(QStringLiteral("spandsp"), -14)
               .arg(QStringLiteral("multimon-ng"), -14);
    Tally total[3];
    for (const Row &row : grid()) {
        Tally t[3];
        for (int m = 0; m < messages; ++m) {
            QRandomGenerator rng(quint32(7919 * m + 17));
            QString number = QStringLiteral("11");
            for (int d = 0; d < 8; ++d)
                number += QChar(u'0' + rng.bounded(10));
            const QString text = QLatin1Char('A') + number + QLatin1Char('C');
            DtmfSignal s;
            s.seed = quint32(m + 1);
            row.setUp(s);
            std::vector<int16_t> audio = s.render(text);
            row.impair(audio, s, text);
            zuna(audio, s.rate, row.sensitivity, number, &t[0]);
            judge(bareSpandsp(audio), number, &t[1]);
            if (!program.isEmpty()) {
                DtmfSignal wide = s;
                wide.rate = MultimonRate;
                std::vector<int16_t> audio22 = wide.render(text);
                row.impair(audio22, wide, text);
                judge(multimon(program, audio22, dir.path()), number, &t[2]);
            }
        }
        auto cell
            = [&](const Tally &x) { return QStringLiteral("%1 / %2 / %3").arg(x.right).arg(x.wrong).arg(x.missed); };
        out << QStringLiteral("%1  %2  %3  %4\n")
                   .arg(row.name, -34)
                   .arg(cell(t[0]), -14)
                   .arg(cell(t[1]), -14)
                   .arg(program.isEmpty() ? QStringLiteral("-") : cell(t[2]), -14);
        for (int i = 0; i < 3; ++i) {
            total[i].right += t[i].right;
            total[i].wrong += t[i].wrong;
            total[i].missed += t[i].missed;
        }
    }
    out << QStringLiteral("%1  %2 / %3 / %4\n")
               .arg(QStringLiteral("all rows, Zuna"), -34)
               .arg(total[0].right)
               .arg(total[0].wrong)
               .arg(total[0].missed);
}

void runFalseAlarms(int minutes)
{
    QTemporaryDir dir;
    size_t speechSamples = 0;
    const std::vector<int16_t> audio = DetectionAudio::speechAndMusic(minutes, dir.path(), &speechSamples);
    const QString program = QStandardPaths::findExecutable(QStringLiteral("multimon-ng"));
    QList<qint64> times;
    const QString zunaDigits = zuna(audio, 8000, DtmfDecoder::DefaultSensitivity, QString(), nullptr, &times);
    const QString zunaMostSensitive = zuna(audio, 8000, 10, QString(), nullptr);
    const QString spandspDigits = bareSpandsp(audio);
    out << "speech and music, " << audio.size() / 8000.0 / 60 << " min: digits heard by Zuna " << zunaDigits.size()
        << " (" << zunaMostSensitive.size() << " at its most sensitive), bare spandsp " << spandspDigits.size();
    if (!program.isEmpty()) {
        // multimon-ng reads 22.05 kHz; sox brings the same audio there.
        const QString raw8 = QDir(dir.path()).filePath(QStringLiteral("todo.raw"));
        QFile f(raw8);
        f.open(QIODevice::WriteOnly);
        f.write(reinterpret_cast<const char *>(audio.data()), qint64(audio.size() * 2));
        f.close();
        const QString raw22 = QDir(dir.path()).filePath(QStringLiteral("todo22.raw"));
        QProcess::execute(QStringLiteral("sox"),
            { QStringLiteral("-t"), QStringLiteral("raw"), QStringLiteral("-r"), QStringLiteral("8000"),
                QStringLiteral("-e"), QStringLiteral("signed"), QStringLiteral("-b"), QStringLiteral("16"),
                QStringLiteral("-c"), QStringLiteral("1"), raw8, QStringLiteral("-t"), QStringLiteral("raw"),
                QStringLiteral("-r"), QString::number(MultimonRate), raw22 });
        QFile wide(raw22);
        wide.open(QIODevice::ReadOnly);
        const QByteArray bytes = wide.readAll();
        std::vector<int16_t> audio22(size_t(bytes.size() / 2));
        memcpy(audio22.data(), bytes.constData(), size_t(bytes.size() / 2 * 2));
        out << ", multimon-ng " << multimon(program, audio22, dir.path()).size();
    }
    out << '\n';
    QList<qint64> fskTimes;
    const int fsk = zunaFsk(audio, 8000, &fskTimes);
    out << "  FSK messages heard by Zuna " << fsk << ", by bare spandsp's two ADSI receivers " << bareAdsi(audio)
        << " (load average " << Bench::loadAverage() << ")\n";
    for (qsizetype i = 0; i < fskTimes.size() && i < 40; ++i)
        out << "  Zuna heard an FSK message at " << fskTimes.at(i) / 1000.0 << " s, in the "
            << (fskTimes.at(i) < qint64(speechSamples / 8) ? "speech" : "music") << '\n';
    for (qsizetype i = 0; i < zunaDigits.size() && i < 40; ++i)
        out << "  Zuna heard " << zunaDigits.at(i) << " at " << times.at(i) / 1000.0 << " s, in the "
            << (times.at(i) < qint64(speechSamples / 8) ? "speech" : "music") << '\n';
}

void runSpeed(int minutes)
{
    // A recording as a line gives it: a call every 20 s, between them the
    // quiet of a line; that quiet as exact zeros, as dither, as noise.
    for (const char *quiet : { "exact digital silence", "dither (1 LSB)", "noise -60 dBFS" }) {
        for (int rate : { 48000, 8000 }) {
            std::vector<int16_t> audio;
            QRandomGenerator rng(5);
            DtmfSignal s;
            s.rate = rate;
            while (audio.size() < size_t(minutes) * 60 * rate) {
                const auto call = s.render(QStringLiteral("A1133334444C"));
                audio.insert(audio.end(), call.begin(), call.end());
                audio.resize(audio.size() + size_t(18 * rate), 0);
                ++s.seed;
            }
            if (QByteArray(quiet).startsWith("dither")) {
                for (int16_t &x : audio)
                    x = int16_t(x + rng.bounded(3) - 1);
            } else if (QByteArray(quiet).startsWith("noise")) {
                for (int16_t &x : audio)
                    x = int16_t(
                        std::clamp(x + int(std::llround((rng.generateDouble() - 0.5) * 2 * 33)), -32768, 32767));
            }
            const double seconds = double(audio.size()) / rate;
            double start = cpuSeconds();
            int messages = 0;
            {
                DtmfDecoder decoder(
                    rate, DtmfDecoder::DefaultSensitivity, [&](const CallerIdMessage &) { ++messages; });
                for (size_t i = 0; i < audio.size(); i += size_t(rate / 50))
                    decoder.feed(audio.data() + i, std::min<size_t>(size_t(rate / 50), audio.size() - i));
                decoder.finish();
            }
            const double zunaCpu = cpuSeconds() - start;
            out << quiet << ", " << rate / 1000.0 << " kHz: Zuna " << qint64(seconds / zunaCpu) << "x real time ("
                << messages << " calls)";
            if (rate == 8000) {
                start = cpuSeconds();
                bareSpandsp(audio);
                const double bare = cpuSeconds() - start;
                out << ", bare spandsp " << qint64(seconds / bare) << "x; Zuna takes "
                    << QString::number(zunaCpu / bare, 'f', 2) << " times spandsp's time";
            }
            out << '\n';
        }
    }
}

// A line between calls as the FSK decoder meets it: a call every 20 s
// (V.23 and Bell 202 in turn, at -13 dBm0) and the line's quiet between them
// as exact zeros, dither, or white noise at `noiseDbm0`; or speech and music
// without calls.
std::vector<int16_t> fskLine(const QString &kind, double noiseDbm0, int rate, int minutes,
    const std::vector<int16_t> &speech8k, const QString &dir, int *calls)
{
    *calls = 0;
    if (kind == QLatin1String("speech")) {
        std::vector<int16_t> audio = rate == 8000 ? speech8k : DetectionAudio::resampled(speech8k, rate, dir);
        return audio;
    }
    std::vector<int16_t> audio;
    FskSignal s;
    s.rate = rate;
    while (audio.size() < size_t(minutes) * 60 * rate) {
        s.standard = *calls % 2 ? FskSignal::Standard::Bell202 : FskSignal::Standard::V23;
        const auto call
            = s.render(FskSignal::mdmf({ { 0x01, "12081030" }, { 0x02, "1133334444" }, { 0x07, "MARIA DA SILVA" } }));
        audio.insert(audio.end(), call.begin(), call.end());
        audio.resize(size_t(20 * rate) * size_t(++*calls), 0);
        ++s.seed;
    }
    QRandomGenerator rng(5);
    if (kind == QLatin1String("dither")) {
        for (int16_t &x : audio)
            x = int16_t(x + rng.bounded(3) - 1);
    } else if (kind == QLatin1String("noise")) {
        // addWhiteNoise sets the noise against two tones: 3 dB less each
        // gives noise of `noiseDbm0` in all.
        DtmfSignal::addWhiteNoise(audio, 0, noiseDbm0 - 3.0103, 5);
    }
    return audio;
}

void runFskSpeed(int minutes, const std::vector<int16_t> &speech, const QTemporaryDir &dir)
{
    out << "FSK decoder, " << minutes << " min of each, fed 20 ms at a time (load average " << Bench::loadAverage()
        << ")\n";
    struct Input
    {
        const char *name;
        QString kind;
        double noiseDbm0;
    };
    const Input inputs[] = {
        { "exact digital silence", QStringLiteral("silence"), 0 },
        { "dither (1 LSB)", QStringLiteral("dither"), 0 },
        { "noise -60 dBm0", QStringLiteral("noise"), -60 },
        { "noise -45 dBm0", QStringLiteral("noise"), -45 },
        { "noise -20 dBm0", QStringLiteral("noise"), -20 },
        { "speech and music", QStringLiteral("speech"), 0 },
    };
    for (const Input &input : inputs) {
        int calls = 0;
        const std::vector<int16_t> audio8k
            = fskLine(input.kind, input.noiseDbm0, 8000, minutes, speech, dir.path(), &calls);
        double start = cpuSeconds();
        const int bareMessages = bareAdsi(audio8k);
        const double bare = double(audio8k.size()) / 8000 / (cpuSeconds() - start);
        for (int rate : { 8000, 48000 }) {
            const std::vector<int16_t> audio = rate == 8000
                ? audio8k
                : fskLine(input.kind, input.noiseDbm0, rate, minutes, speech, dir.path(), &calls);
            start = cpuSeconds();
            const int messages = zunaFsk(audio, rate);
            const double zuna = double(audio.size()) / rate / (cpuSeconds() - start);
            out << QStringLiteral("  %1 %2 kHz: Zuna %3x real time (%4 of %5 calls), bare spandsp at 8 kHz %6x (%7 "
                                  "messages from its two receivers); load average %8\n")
                       .arg(QString::fromLatin1(input.name), -22)
                       .arg(rate / 1000, 2)
                       .arg(qint64(zuna), 7)
                       .arg(messages)
                       .arg(calls)
                       .arg(qint64(bare))
                       .arg(bareMessages)
                       .arg(Bench::loadAverage());
        }
    }
}
// Both decoders as Zuna runs them on a line's audio (a sound card, a
// recording), fed 20 ms at a time: CPU seconds.
double zunaLineCpu(const std::vector<int16_t> &audio, int rate)
{
    const double start = cpuSeconds();
    DtmfDecoder dtmf(rate, DtmfDecoder::DefaultSensitivity, [](const CallerIdMessage &) {});
    FskDecoder fsk(rate, [](const CallerIdMessage &) {});
    const auto chunk = size_t(rate / 50);
    for (size_t i = 0; i < audio.size(); i += chunk) {
        const size_t n = std::min(chunk, audio.size() - i);
        dtmf.feed(audio.data() + i, n);
        fsk.feed(audio.data() + i, n);
    }
    dtmf.finish();
    fsk.finish();
    return cpuSeconds() - start;
}

// The whole of Zuna's line decoding beside spandsp's three bare receivers
// (dtmf_rx and the two adsi_rx) fed the same audio at 8 kHz, on a line with
// no call: exact digital silence, dither, noise, speech and music.
void runLineSpeed(int minutes, const std::vector<int16_t> &speech, const QTemporaryDir &dir)
{
    out << "DTMF and FSK decoders together, " << minutes
        << " min of each, beside bare spandsp's three receivers at 8 kHz (load average " << Bench::loadAverage()
        << ")\n";
    for (const char *kind : { "exact digital silence", "dither (1 LSB)", "noise -45 dBm0", "speech and music" }) {
        const QByteArray name(kind);
        auto line = [&](int rate) {
            if (name.startsWith("speech"))
                return rate == 8000 ? speech : DetectionAudio::resampled(speech, rate, dir.path());
            std::vector<int16_t> audio(size_t(minutes) * 60 * size_t(rate), 0);
            QRandomGenerator rng(5);
            if (name.startsWith("dither")) {
                for (int16_t &x : audio)
                    x = int16_t(rng.bounded(3) - 1);
            } else if (name.startsWith("noise")) {
                DtmfSignal::addWhiteNoise(audio, 0, -45 - 3.0103, 5);
            }
            return audio;
        };
        const std::vector<int16_t> audio8k = line(8000);
        double start = cpuSeconds();
        bareSpandsp(audio8k);
        bareAdsi(audio8k);
        const double bare = cpuSeconds() - start;
        const double seconds = double(audio8k.size()) / 8000;
        for (int rate : { 48000, 8000 }) {
            const double zuna = zunaLineCpu(rate == 8000 ? audio8k : line(rate), rate);
            out << QStringLiteral("  %1 %2 kHz: Zuna %3x real time, bare spandsp at 8 kHz %4x: Zuna takes %5 "
                                  "times their time\n")
                       .arg(QString::fromLatin1(kind), -22)
                       .arg(rate / 1000, 2)
                       .arg(qint64(seconds / zuna), 7)
                       .arg(qint64(seconds / bare), 7)
                       .arg(zuna / bare, 0, 'f', 2);
        }
    }
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    auto value = [&](const QString &option, int fallback) {
        const qsizetype at = args.indexOf(option);
        return at >= 0 && at + 1 < args.size() ? args.at(at + 1).toInt() : fallback;
    };
    const bool all = args.size() == 1;
    if (all || args.contains(QStringLiteral("--messages")))
        runGrid(value(QStringLiteral("--messages"), 25));
    if (all || args.contains(QStringLiteral("--speed")) || args.contains(QStringLiteral("--line-speed"))) {
        const bool lineOnly = !all && !args.contains(QStringLiteral("--speed"));
        const int minutes = value(lineOnly ? QStringLiteral("--line-speed") : QStringLiteral("--speed"), 10);
        QTemporaryDir dir;
        size_t speechSamples = 0;
        const std::vector<int16_t> speech = DetectionAudio::speechAndMusic(minutes, dir.path(), &speechSamples);
        if (!lineOnly) {
            runSpeed(minutes);
            runFskSpeed(minutes, speech, dir);
        }
        runLineSpeed(minutes, speech, dir);
    }
    if (args.contains(QStringLiteral("--false-alarms")))
        runFalseAlarms(value(QStringLiteral("--false-alarms"), 30));
    return 0;
}
