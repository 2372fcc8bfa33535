#include "core/callerid/sources/SipAgent.h"

#include "core/callerid/sources/SipCaller.h"
#include "core/callerid/sources/SipRequestCheck.h"
#include "core/callerid/sources/SipRingPlaces.h"
#include "core/callerid/sources/SipStack.h"
#include "core/callerid/sources/SipTcpCap.h"

#include <QLoggingCategory>

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <future>
#include <list>
#include <mutex>
#include <vector>

Q_LOGGING_CATEGORY(lcSip, "zuna.sip", QtWarningMsg)

namespace {

enum Command { Retry = 1, Stop = 2 };

constexpr const char *Allowed = "INVITE, ACK, CANCEL, OPTIONS";
// Over TCP libre tells when the registrar's connection ends (a registrar that
// restarts closes it). It also sends CRLF pings at this interval and drops a
// connection whose ping goes unanswered for 10 s; answering them is optional
// (RFC 5626), so they are made rare: a connection that dies without closing
// is noticed at the next renewal instead.
constexpr uint32_t KeepaliveSeconds = 24 * 3600;

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

// The share of the validity after which libre renews a registration: every
// RefreshSeconds at most, never later than 90 % of it.
uint32_t refreshPercent(uint32_t expires)
{
    return std::clamp<uint32_t>(uint32_t(SipAgent::RefreshSeconds) * 100 / std::max<uint32_t>(expires, 1), 5, 90);
}

// Who sent a request, as ringing places are shared: its source address and
// its From host.
QByteArray senderOf(const struct sip_msg *msg)
{
    char address[64] = {};
    sa_ntop(&msg->src, address, sizeof(address));
    return QByteArray(address) + ' ' + QByteArray(msg->from.uri.host.p, int(msg->from.uri.host.l)).toLower();
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
        uint64_t place = 0;
    };

    Setup setup;
    Handlers handlers;
    struct mqueue *queue = nullptr;
    struct sip *sip = nullptr;
    struct sip_lsnr *listener = nullptr;
    struct sipreg *registration = nullptr;
    struct sip_keepalive *keepalive = nullptr;
    struct tmr dropTimer;
    QByteArray registrarAddress; // resolved, as a URI writes it
    std::vector<struct sa> registrarAddresses; // every one its name resolves to
    bool credentialsOffered = false; // in this attempt
    bool registered = false;
    std::list<RingingCall> calls;
    SipRingPlaces places;
    SipTcpCap tcpCap;

    QString where() const
    {
        const QString host = setup.address.host.isEmpty() ? QStringLiteral("0.0.0.0") : setup.address.host;
        return QStringLiteral("%1:%2").arg(host.contains(u':') ? u'[' + host + u']' : host).arg(setup.address.port);
    }

    void run(std::promise<bool> &ready)
    {
        re_thread_init();
        // As many descriptors as the process may open (libre's own default
        // is lower).
        fd_setsize(SipTcpCap::fileLimit());
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
        registrarAddresses.clear();
        for (const struct addrinfo *a = found; a; a = a->ai_next) {
            struct sa one;
            if (sa_set_sa(&one, a->ai_addr) == 0)
                registrarAddresses.push_back(one);
        }
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
        capConnections(local);
        return true;
    }

    void capConnections(const struct sa &bound)
    {
        struct sa tcp;
        const int cap = setup.maxTcpConnections > 0 ? setup.maxTcpConnections : SipTcpCap::defaultCap();
        const bool watched = sip_transp_laddr(sip, &tcp, SIP_TRANSP_TCP, &bound) == 0
            && tcpCap.start(&tcp, cap, [this](const struct sa *peer) {
                   // A call still ringing keeps its connection; so does the registrar.
                   return isRegistrar(peer) || std::any_of(calls.begin(), calls.end(), [peer](const RingingCall &c) {
                       return c.invite->tp == SIP_TRANSP_TCP && sa_cmp(&c.invite->src, peer, SA_ALL);
                   });
               });
        if (!watched)
            qCWarning(lcSip) << "as conexões TCP não serão limitadas";
    }

    bool isRegistrar(const struct sa *peer) const
    {
        return setup.registering
            && std::any_of(registrarAddresses.begin(), registrarAddresses.end(),
                [peer](const struct sa &a) { return sa_cmp(&a, peer, SA_ADDR); });
    }

    void registerNow()
    {
        registration = static_cast<struct sipreg *>(mem_deref(registration));
        keepalive = static_cast<struct sip_keepalive *>(mem_deref(keepalive));
        credentialsOffered = false;
        const uint32_t expires = uint32_t(std::clamp(setup.expiresSeconds, 1, MaxExpiresSeconds));
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
            account.constData(), expires, a.user.toUtf8().constData(), routes, 1, 0, &Stack::onAuthenticate, this,
            false, &Stack::onRegistered, this, nullptr, nullptr);
        if (err)
            failRegistration(errorText(err));
        else
            sipreg_set_rwait(registration, refreshPercent(expires));
    }

    void failRegistration(const QString &why, bool credentials = false)
    {
        registered = false;
        const QString text = QStringLiteral("Sem registro em %1: %2").arg(where(), why);
        if (credentials && handlers.refused)
            handlers.refused(text);
        else
            handlers.status(text + QStringLiteral("; tentando de novo."), false);
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
        self->keepalive = static_cast<struct sip_keepalive *>(mem_deref(self->keepalive));
        while (!self->calls.empty())
            self->finish(self->calls.front());
        self->dropStack();
    }

    static int onAuthenticate(char **user, char **password, const char *, void *arg)
    {
        auto *self = static_cast<Stack *>(arg);
        // libre asks again at each challenge, up to 16 times in a row: the
        // same password refused once is refused again, and each try is one
        // more failed login at the provider (whose intrusion protection bans
        // the whole office's address). One try per attempt; a stale nonce
        // after a renewal is the attempt's first challenge.
        if (self->credentialsOffered)
            return EAUTH;
        self->credentialsOffered = true;
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
            self->registeredBy(msg);
        } else if (msg->scode == 401 || msg->scode == 403 || msg->scode == 407) {
            self->failRegistration(QStringLiteral("usuário ou senha recusados (%1)").arg(reason), true);
        } else {
            self->failRegistration(QStringLiteral("o servidor recusou (%1)").arg(reason));
        }
    }

    void registeredBy(const struct sip_msg *msg)
    {
        credentialsOffered = false;
        // The registrar may grant less than asked: renewed in time all the same.
        if (const uint32_t granted = sipreg_proxy_expires(registration))
            sipreg_set_rwait(registration, refreshPercent(granted));
        if (!keepalive && msg->tp != SIP_TRANSP_UDP)
            sip_keepalive_start(&keepalive, sip, msg, KeepaliveSeconds, &Stack::onConnectionLost, this);
        if (registered)
            return;
        registered = true;
        handlers.status(
            QStringLiteral("Registrado em %1 como %2 (%3)")
                .arg(where(), setup.address.user, setup.address.tcp ? QStringLiteral("TCP") : QStringLiteral("UDP")),
            true);
    }

    static void onConnectionLost(int err, void *arg)
    {
        static_cast<Stack *>(arg)->failRegistration(
            QStringLiteral("a conexão com o servidor caiu (%1)").arg(errorText(err)));
    }

    static bool onRequest(const struct sip_msg *msg, void *arg)
    {
        auto *self = static_cast<Stack *>(arg);
        struct sip *sip = self->sip;
        if (!pl_strcmp(&msg->met, "ACK"))
            return true;
        // Registered, calls come through the registrar; anyone else may not
        // ring the desk.
        if (self->setup.registering && !self->isRegistrar(&msg->src)) {
            sip_reply(sip, msg, 403, "Forbidden");
            return true;
        }
        if (const SipRequestCheck::Verdict verdict = SipRequestCheck::check(msg); verdict.code) {
            sip_reply(sip, msg, verdict.code, verdict.reason);
            return true;
        }
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
        // A flood of INVITEs cannot grow the agent without bound, nor take
        // every place: the flood's own oldest call gives its place up.
        const QByteArray sender = senderOf(msg);
        while (const uint64_t loser = places.placeToFree(sender)) {
            const auto holder
                = std::find_if(calls.begin(), calls.end(), [loser](const RingingCall &c) { return c.place == loser; });
            if (holder == calls.end())
                places.release(loser);
            else
                end(*holder, 480, "Temporarily Unavailable");
        }
        RingingCall &call = calls.emplace_back();
        call.place = places.take(sender);
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
        places.release(call.place);
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
        tcpCap.stop();
        keepalive = static_cast<struct sip_keepalive *>(mem_deref(keepalive));
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
