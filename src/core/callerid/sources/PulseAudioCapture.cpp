#include "core/callerid/sources/PulseAudioCapture.h"

#include <QElapsedTimer>
#include <QThread>

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/simple.h>

namespace {

AudioCapture::Factory &factory()
{
    static AudioCapture::Factory f;
    return f;
}

} // namespace

std::unique_ptr<AudioCapture> AudioCapture::create()
{
    if (factory())
        return factory()();
    return std::make_unique<PulseAudioCapture>();
}

void AudioCapture::setFactory(Factory f)
{
    factory() = std::move(f);
}

PulseAudioCapture::~PulseAudioCapture()
{
    if (m_stream)
        pa_simple_free(m_stream);
}

bool PulseAudioCapture::open(const QString &device, int rate, QString *error)
{
    const pa_sample_spec spec { PA_SAMPLE_S16LE, uint32_t(rate), 1 };
    // 100 ms a read: few wake-ups on an idle line.
    pa_buffer_attr attr {};
    attr.maxlength = uint32_t(-1);
    attr.fragsize = uint32_t(rate / 10 * 2);
    int code = 0;
    const QByteArray name = device.toUtf8();
    m_stream = pa_simple_new(nullptr, "Zuna", PA_STREAM_RECORD, device.isEmpty() ? nullptr : name.constData(),
        "linha telefônica", &spec, nullptr, &attr, &code);
    if (m_stream)
        return true;
    *error
        = QStringLiteral("Sem som da linha: o servidor de som não abriu a entrada%1 (%2).")
              .arg(device.isEmpty() ? QString() : QStringLiteral(" ") + device, QString::fromUtf8(pa_strerror(code)));
    return false;
}

bool PulseAudioCapture::read(int16_t *samples, size_t count, QString *error)
{
    int code = 0;
    if (pa_simple_read(m_stream, samples, count * sizeof(int16_t), &code) >= 0)
        return true;
    *error = QStringLiteral("A entrada de som parou (%1).").arg(QString::fromUtf8(pa_strerror(code)));
    return false;
}

QList<QPair<QString, QString>> PulseAudioCapture::inputs()
{
    // A short blocking exchange with the sound server.
    QList<QPair<QString, QString>> inputs;
    pa_mainloop *loop = pa_mainloop_new();
    pa_context *context = pa_context_new(pa_mainloop_get_api(loop), "Zuna");
    bool done = false;
    struct Collect
    {
        QList<QPair<QString, QString>> *inputs;
        bool *done;
    } collect { &inputs, &done };
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOFLAGS, nullptr) >= 0) {
        pa_operation *op = nullptr;
        QElapsedTimer timer;
        timer.start();
        while (!done && timer.elapsed() < 1000) {
            pa_mainloop_iterate(loop, 0, nullptr);
            const pa_context_state_t state = pa_context_get_state(context);
            if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED)
                break;
            if (state == PA_CONTEXT_READY && !op) {
                op = pa_context_get_source_info_list(
                    context,
                    [](pa_context *, const pa_source_info *info, int eol, void *user) {
                        auto *c = static_cast<Collect *>(user);
                        if (eol)
                            *c->done = true;
                        else if (info)
                            c->inputs->append({ QString::fromUtf8(info->name), QString::fromUtf8(info->description) });
                    },
                    &collect);
            }
            QThread::msleep(5);
        }
        if (op)
            pa_operation_unref(op);
        pa_context_disconnect(context);
    }
    pa_context_unref(context);
    pa_mainloop_free(loop);
    return inputs;
}
