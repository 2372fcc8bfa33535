#include "callerid/sources/SipAgent.h"

#include "callerid/sources/SipCaller.h"
#include "callerid/sources/SipStack.h"

#include <QLoggingCategory>

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <future>
#include <list>
#include <mutex>

Q_LOGGING_CATEGORY(lcSip, "zuna.sip", QtWarningMsg)

namespace {

enum Command { Retry = 1, Stop = 2 };

constexpr const char *Allowed = "INVITE, ACK, CANCEL, OPTIONS";
constexpr size_t MaxRingingCalls = 64;

QString errorText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

QString addressText(const struct sa *address)
{
    char text[64] = {};
    re_snprintf(text, sizeof(text), "%J", address);
    return QString::fromLatin1(text);
}

QByteArray headerValue(const struct sip_msg *msg, const char *name)
{
    const struct sip_hdr *hdr = sip_msg_xhdr(msg, name);
    return hdr ? QByteArray(hdr->val.p, int(hdr->val.l)) : QByteArray();
}

// A host as a SIP URI writes it: IPv6 addresses in brackets.
QByteArray uriHost(const QString &host)
{
    return host.contains(u':') ? '[' + host.toUtf8() + ']' : host.toUtf8();
}

} // namespace

struct SipAgent::Stack
{
    struct RingingCall
    {
        Stack *owner = nullptr;
        struct sip_strans *transaction = nullptr;
        struct sip_msg *invite = nullptr;
        struct tmr ringLimit;
    };

    Setup setup;
    Handlers handlers;
    struct mqueue *queue = nullptr;
    struct sip *sip = nullptr;
    struct sip_lsnr *listener = nullptr;
    struct sipreg *registration = nullptr;
    struct tmr dropTimer;
    QByteArray registrarAddress; // resolved, as a URI writes it
    std::list<RingingCall> calls;

    QString where() const
    {
        const QString host = setup.address.host.isEmpty() ? QStringLiteral("0.0.0.0") : setup.address.host;
        return QStringLiteral("%1:%2").arg(host.contains(u':') ? u'[' + host + u']' : host).arg(setup.address.port);
    }

    void run(std::promise<bool> &ready)
    {
        re_thread_init();
        tmr_init(&dropTimer);
        const bool ok = mqueue_alloc(&queue, &Stack::onCommand, this) == 0;
        ready.set_value(ok);
        if (ok) {
            start();
            re_main(nullptr);
        }
        shutDown();
        queue = static_cast<struct mqueue *>(mem_deref(queue));
        re_thread_close();
    }

    void start()
    {
        if (!sip && !bind())
            return;
        if (setup.registering)
            registerNow();
        else
            handlers.status(QStringLiteral("Escutando chamadas SIP em %1 (UDP e TCP)").arg(where()), true);
    }

    // The local address toward the registrar: the one its Contact must name.
    bool localAddressToward(struct sa *local, QString *why)
    {
        struct addrinfo hints = {};
        hints.ai_socktype = SOCK_DGRAM;
        struct addrinfo *found = nullptr;
        const QByteArray host = setup.address.host.toUtf8();
        const QByteArray port = QByteArray::number(setup.address.port);
        if (getaddrinfo(host.constData(), port.constData(), &hints, &found) != 0 || !found) {
            *why = QStringLiteral("o servidor %1 não foi encontrado").arg(setup.address.host);
            return false;
        }
        struct sa registrar;
        sa_set_sa(&registrar, found->ai_addr);
        freeaddrinfo(found);
        const int probe = socket(sa_af(&registrar), SOCK_DGRAM, 0);
        bool ok = probe >= 0 && ::connect(probe, &registrar.u.sa, registrar.len) == 0;
        sa_init(local, sa_af(&registrar));
        local->len = sizeof(local->u);
        ok = ok && getsockname(probe, &local->u.sa, &local->len) == 0;
        if (probe >= 0)
            close(probe);
        if (!ok) {
            *why = QStringLiteral("sem rota até %1").arg(setup.address.host);
            return false;
        }
        sa_set_port(local, 0);
        char text[64] = {};
        re_snprintf(text, sizeof(text), "%j", &registrar);
        registrarAddress = uriHost(QString::fromLatin1(text));
        return true;
    }

    bool bind()
    {
        struct sa local;
        QString why;
        if (setup.registering) {
            if (!localAddressToward(&local, &why)) {
                failRegistration(why);
                return false;
            }
        } else {
            const QByteArray host = setup.address.host.isEmpty() ? QByteArray("0.0.0.0") : setup.address.host.toUtf8();
            if (sa_set_str(&local, host.constData(), uint16_t(setup.address.port)) != 0) {
                handlers.status(QStringLiteral("Endereço de escuta SIP inválido: %1").arg(where()), false);
                return false;
            }
        }
        int err = sip_alloc(&sip, nullptr, 32, 32, 32, "Zuna " ZUNA_VERSION, nullptr, this);
        if (!err)
            err = sip_transp_add(sip, SIP_TRANSP_UDP, &local);
        if (!err)
            err = sip_transp_add(sip, SIP_TRANSP_TCP, &local);
        if (!err)
            err = sip_listen(&listener, sip, true, &Stack::onRequest, this);
        if (err) {
            dropStack();
            if (setup.registering)
                failRegistration(errorText(err));
            else
                handlers.status(QStringLiteral("Não foi possível escutar chamadas SIP em %1: %2; tentando de novo.")
                                    .arg(where(), errorText(err)),
                    false);
            return false;
        }
        if (lcSip().isDebugEnabled())
            sip_set_trace_handler(sip, &Stack::onTrace);
        return true;
    }

    void registerNow()
    {
        registration = static_cast<struct sipreg *>(mem_deref(registration));
        const SipAddress &a = setup.address;
        const QByteArray transport = a.tcp ? ";transport=tcp" : "";
        const QByteArray host = uriHost(a.host);
        const QByteArray registrar = "sip:" + host + ':' + QByteArray::number(a.port) + transport;
        const QByteArray account = "sip:" + a.user.toUtf8() + '@' + host;
        // The host as resolved by the system (hosts file, DNS), so that a name
        // the system knows is reached even where libre's resolver would not.
        const QByteArray route = "sip:" + registrarAddress + ':' + QByteArray::number(a.port) + transport + ";lr";
        const char *routes[] = { route.constData() };
        const int err = sipreg_register(&registration, sip, registrar.constData(), account.constData(), "Zuna",
            account.constData(), uint32_t(setup.expiresSeconds), a.user.toUtf8().constData(), routes, 1, 0,
            &Stack::onAuthenticate, this, false, &Stack::onRegistered, this, nullptr, nullptr);
        if (err)
            failRegistration(errorText(err));
    }

    void failRegistration(const QString &why)
    {
        handlers.status(QStringLiteral("Sem registro em %1: %2; tentando de novo.").arg(where(), why), false);
        // Retries are paced by the source; libre's own (from 30 s up) stop here.
        // Not from inside libre's handler: the registration is still in use.
        tmr_start(&dropTimer, 0, &Stack::onDropRegistration, this);
    }

    // The whole stack goes with a failed registration: the next attempt binds
    // again, to the address that reaches the registrar then (a laptop that
    // changed networks, an interface that came back).
    static void onDropRegistration(void *arg)
    {
        auto *self = static_cast<Stack *>(arg);
        self->registration = static_cast<struct sipreg *>(mem_deref(self->registration));
        while (!self->calls.empty())
            self->finish(self->calls.front());
        self->dropStack();
    }

    static int onAuthenticate(char **user, char **password, const char *, void *arg)
    {
        auto *self = static_cast<Stack *>(arg);
        const QByteArray name
            = self->setup.authUser.isEmpty() ? self->setup.address.user.toUtf8() : self->setup.authUser;
        int err = str_dup(user, name.constData());
        err |= str_dup(password, self->setup.password.constData());
        return err;
    }

    static void onRegistered(int err, const struct sip_msg *msg, void *arg)
    {
        auto *self = static_cast<Stack *>(arg);
        if (err) {
            self->failRegistration(err == ECONNREFUSED || err == ETIMEDOUT
                    ? QStringLiteral("o servidor não responde (%1)").arg(errorText(err))
                    : errorText(err));
            return;
        }
        if (!msg || msg->scode < 200)
            return;
        const QString reason
            = QStringLiteral("%1 %2").arg(msg->scode).arg(QString::fromUtf8(msg->reason.p, int(msg->reason.l)));
        if (msg->scode < 300) {
            self->handlers.status(QStringLiteral("Registrado em %1 como %2 (%3)")
                                      .arg(self->where(), self->setup.address.user,
                                          self->setup.address.tcp ? QStringLiteral("TCP") : QStringLiteral("UDP")),
                true);
        } else if (msg->scode == 401 || msg->scode == 403 || msg->scode == 407) {
            self->failRegistration(QStringLiteral("usuário ou senha recusados (%1)").arg(reason));
        } else {
            self->failRegistration(QStringLiteral("o servidor recusou (%1)").arg(reason));
        }
    }

    static bool onRequest(const struct sip_msg *msg, void *arg)
    {
        auto *self = static_cast<Stack *>(arg);
        struct sip *sip = self->sip;
        if (!pl_strcmp(&msg->met, "ACK"))
            return true;
        if (!pl_strcmp(&msg->met, "INVITE")) {
            if (pl_isset(&msg->to.tag))
                sip_reply(sip, msg, 481, "Call/Transaction Does Not Exist");
            else
                self->ring(msg);
            return true;
        }
        if (!pl_strcmp(&msg->met, "OPTIONS")) {
            sip_replyf(sip, msg, 200, "OK", "Allow: %s\r\nContent-Length: 0\r\n\r\n", Allowed);
            return true;
        }
        if (!pl_strcmp(&msg->met, "BYE") || !pl_strcmp(&msg->met, "CANCEL")) {
            sip_reply(sip, msg, 481, "Call/Transaction Does Not Exist");
            return true;
        }
        sip_replyf(sip, msg, 405, "Method Not Allowed", "Allow: %s\r\nContent-Length: 0\r\n\r\n", Allowed);
        return true;
    }

    void ring(const struct sip_msg *msg)
    {
        // A flood of INVITEs cannot grow the agent without bound.
        if (calls.size() >= MaxRingingCalls) {
            sip_reply(sip, msg, 480, "Temporarily Unavailable");
            return;
        }
        RingingCall &call = calls.emplace_back();
        call.owner = this;
        tmr_init(&call.ringLimit);
        call.invite = static_cast<struct sip_msg *>(mem_ref(const_cast<struct sip_msg *>(msg)));
        int err = sip_strans_alloc(&call.transaction, sip, msg, &Stack::onCancel, &call);
        if (!err) {
            // The request URI reached us: it serves as our Contact.
            err = sip_treplyf(&call.transaction, nullptr, sip, msg, false, 180, "Ringing",
                "Contact: <%r>\r\nAllow: %s\r\nContent-Length: 0\r\n\r\n", &msg->ruri, Allowed);
        }
        if (err) {
            sip_reply(sip, msg, 500, "Server Internal Error");
            finish(call);
            return;
        }
        tmr_start(&call.ringLimit, uint64_t(MaxRingSeconds) * 1000, &Stack::onRingLimit, &call);
        const SipCaller::Headers headers {
            headerValue(msg, "P-Asserted-Identity"),
            headerValue(msg, "Remote-Party-ID"),
            [msg] {
                const struct sip_hdr *from = sip_msg_hdr(msg, SIP_HDR_FROM);
                return from ? QByteArray(from->val.p, int(from->val.l)) : QByteArray();
            }(),
            headerValue(msg, "Privacy"),
        };
        handlers.call(SipCaller::read(headers));
    }

    void end(RingingCall &call, uint16_t code, const char *reason)
    {
        if (call.transaction)
            sip_treply(&call.transaction, sip, call.invite, code, reason);
        finish(call);
    }

    void finish(RingingCall &call)
    {
        tmr_cancel(&call.ringLimit);
        call.transaction = static_cast<struct sip_strans *>(mem_deref(call.transaction));
        call.invite = static_cast<struct sip_msg *>(mem_deref(call.invite));
        calls.remove_if([&call](const RingingCall &c) { return &c == &call; });
    }

    static void onCancel(void *arg)
    {
        auto *call = static_cast<RingingCall *>(arg);
        call->owner->end(*call, 487, "Request Terminated");
    }

    static void onRingLimit(void *arg)
    {
        auto *call = static_cast<RingingCall *>(arg);
        call->owner->end(*call, 480, "Temporarily Unavailable");
    }

    static void onTrace(bool sent, enum sip_transp transport, const struct sa *from, const struct sa *to,
        const uint8_t *packet, size_t length, void *)
    {
        qCDebug(lcSip).noquote() << (sent ? "enviado" : "recebido") << sip_transp_name(transport) << addressText(from)
                                 << "->" << addressText(to) << "\n"
                                 << QString::fromUtf8(reinterpret_cast<const char *>(packet), qsizetype(length));
    }

    static void onCommand(int id, void *, void *arg)
    {
        auto *self = static_cast<Stack *>(arg);
        if (id == Stop)
            re_cancel();
        else if (id == Retry)
            self->start();
    }

    void dropStack()
    {
        listener = static_cast<struct sip_lsnr *>(mem_deref(listener));
        if (sip)
            sip_close(sip, true);
        sip = static_cast<struct sip *>(mem_deref(sip));
    }

    void shutDown()
    {
        tmr_cancel(&dropTimer);
        while (!calls.empty())
            finish(calls.front());
        // Unregisters (sent at once; the answer is not waited for).
        registration = static_cast<struct sipreg *>(mem_deref(registration));
        dropStack();
    }
};

SipAgent::SipAgent(Setup setup, Handlers handlers)
    : m_stack(std::make_unique<Stack>())
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { libre_init(); });
    m_stack->setup = std::move(setup);
    m_stack->handlers = std::move(handlers);
    std::promise<bool> ready;
    std::future<bool> started = ready.get_future();
    m_thread = std::thread([this, &ready] { m_stack->run(ready); });
    started.wait();
}

SipAgent::~SipAgent()
{
    if (m_stack->queue)
        mqueue_push(m_stack->queue, Stop, nullptr);
    m_thread.join();
}

void SipAgent::retry()
{
    if (m_stack->queue)
        mqueue_push(m_stack->queue, Retry, nullptr);
}
