#include "g729/g729_filters.h"

namespace aurivane::g729 {

void Synthesis(const double a[11], const double* x, double* y, int n, double mem[10], bool update) {
    if (n < 10) {
        double buf[10 + 10];
        for (int i = 0; i < 10; ++i) buf[i] = mem[i];
        double* out = buf + 10;
        for (int i = 0; i < n; ++i) {
            double s = x[i];
            for (int j = 1; j <= 10; ++j) s -= a[j] * out[i - j];
            out[i] = s;
        }
        for (int i = 0; i < n; ++i) y[i] = out[i];
        if (update) {
            double last[10];
            for (int i = 0; i < 10; ++i) last[i] = buf[n + i];
            for (int i = 0; i < 10; ++i) mem[i] = last[i];
        }
        return;
    }
    // The first ten outputs reach back into mem; the rest run in place in y
    // (x[i] is read before y[i] is written, so x == y is fine).
    double head[20];
    for (int i = 0; i < 10; ++i) head[i] = mem[i];
    for (int i = 0; i < 10; ++i) {
        double s = x[i];
        for (int j = 1; j <= 10; ++j) s -= a[j] * head[10 + i - j];
        head[10 + i] = s;
    }
    for (int i = 0; i < 10; ++i) y[i] = head[10 + i];
    const double a1 = a[1], a2 = a[2], a3 = a[3], a4 = a[4], a5 = a[5];
    const double a6 = a[6], a7 = a[7], a8 = a[8], a9 = a[9], a10 = a[10];
    for (int i = 10; i < n; ++i) {
        const double* o = y + i;
        double s = x[i];
        s -= a1 * o[-1];
        s -= a2 * o[-2];
        s -= a3 * o[-3];
        s -= a4 * o[-4];
        s -= a5 * o[-5];
        s -= a6 * o[-6];
        s -= a7 * o[-7];
        s -= a8 * o[-8];
        s -= a9 * o[-9];
        s -= a10 * o[-10];
        y[i] = s;
    }
    if (update)
        for (int i = 0; i < 10; ++i) mem[i] = y[n - 10 + i];
}

void Convolve(const double* x, const double* h, double* y, int len) {
    for (int n = 0; n < len; ++n) {
        double s = 0.0;
        for (int i = 0; i <= n; ++i) s += x[i] * h[n - i];
        y[n] = s;
    }
}

}  // namespace aurivane::g729
