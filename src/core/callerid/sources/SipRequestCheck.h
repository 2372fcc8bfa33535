#pragma once

#include <cstdint>

struct sip_msg;

// Whether a request received is whole and sound enough to be answered as a
// call: From, To, Call-ID and CSeq present, the CSeq naming the request's own
// method, and the body as long as Content-Length says. libre hands on what
// it could read of a datagram larger than its receive buffer; such a request
// is answered 513, another short body 400, as SIP says. (An ACK that fails is
// dropped: nothing answers an ACK.)
class SipRequestCheck
{
public:
    // libre's UDP receive buffer: a datagram longer than this is cut.
    static constexpr int UdpReceiveBytes = 8192;

    struct Verdict
    {
        uint16_t code = 0; // 0: sound
        const char *reason = nullptr;
    };
    static Verdict check(const struct sip_msg *msg);
};
