#pragma once

#include <cmath>

// A second-order section (transposed direct form II), in floating point: a
// fixed-point form overflows on the strong hum it is there to remove.
class Biquad
{
public:
    // Butterworth-family sections by the bilinear transform; q = 1/sqrt(2)
    // gives a second-order Butterworth.
    static Biquad highPass(double hz, double rate, double q = M_SQRT1_2) { return make(hz, rate, q, true); }
    static Biquad lowPass(double hz, double rate, double q = M_SQRT1_2) { return make(hz, rate, q, false); }

    // A notch at `hz`, `hz / q` wide at its -3 dB points (RBJ cookbook).
    static Biquad notch(double hz, double rate, double q)
    {
        const double w = 2 * M_PI * hz / rate;
        const double alpha = std::sin(w) / (2 * q);
        const double norm = 1.0 / (1.0 + alpha);
        Biquad b;
        b.m_b0 = b.m_b2 = norm;
        b.m_b1 = b.m_a1 = -2.0 * std::cos(w) * norm;
        b.m_a2 = (1.0 - alpha) * norm;
        return b;
    }

    float operator()(float x)
    {
        const double y = m_b0 * x + m_s1;
        m_s1 = m_b1 * x - m_a1 * y + m_s2;
        m_s2 = m_b2 * x - m_a2 * y;
        return float(y);
    }

private:
    static Biquad make(double hz, double rate, double q, bool high)
    {
        const double k = std::tan(M_PI * hz / rate);
        const double norm = 1.0 / (1.0 + k / q + k * k);
        Biquad b;
        if (high) {
            b.m_b0 = norm;
            b.m_b1 = -2.0 * norm;
        } else {
            b.m_b0 = k * k * norm;
            b.m_b1 = 2.0 * k * k * norm;
        }
        b.m_b2 = b.m_b0;
        b.m_a1 = 2.0 * (k * k - 1.0) * norm;
        b.m_a2 = (1.0 - k / q + k * k) * norm;
        return b;
    }

    double m_b0 = 1, m_b1 = 0, m_b2 = 0, m_a1 = 0, m_a2 = 0;
    double m_s1 = 0, m_s2 = 0;
};
