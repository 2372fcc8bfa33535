#include "core/callerid/sources/SipRequestCheck.h"

#include "core/callerid/sources/SipStack.h"

SipRequestCheck::Verdict SipRequestCheck::check(const struct sip_msg *msg)
{
    constexpr Verdict badRequest { 400, "Bad Request" };
    if (!pl_isset(&msg->from.auri) || !pl_isset(&msg->to.auri) || !pl_isset(&msg->callid) || !pl_isset(&msg->cseq.met))
        return badRequest;
    // Method names are case-sensitive.
    if (pl_cmp(&msg->cseq.met, &msg->met) != 0)
        return badRequest;
    if (pl_isset(&msg->clen) && mbuf_get_left(msg->mb) < pl_u32(&msg->clen)) {
        if (msg->tp == SIP_TRANSP_UDP && msg->mb->end >= size_t(UdpReceiveBytes))
            return { 513, "Message Too Large" };
        return badRequest;
    }
    return {};
}
