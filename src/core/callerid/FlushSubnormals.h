#pragma once

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

// Filters decaying in exact digital silence reach subnormal numbers, which
// the processor handles a hundred times slower. While the decoder works,
// those are taken as zero; the caller's own setting is given back after.
class FlushSubnormals
{
public:
    FlushSubnormals()
    {
#if defined(__SSE__)
        m_saved = _mm_getcsr();
        _mm_setcsr(m_saved | 0x8040); // flush to zero, denormals are zero
#endif
    }
    ~FlushSubnormals()
    {
#if defined(__SSE__)
        _mm_setcsr(m_saved);
#endif
    }
    FlushSubnormals(const FlushSubnormals &) = delete;
    FlushSubnormals &operator=(const FlushSubnormals &) = delete;

private:
    unsigned m_saved = 0;
};
