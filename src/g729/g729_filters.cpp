#include "g729/g729_filters.h"

namespace aurivane::g729 {

void Synthesis(const double a[11], const double* x, double* y, int n, double mem[10], bool update) {
    // The ten past outputs enter oldest first, so the newest one, which the
    // previous sample has only just produced, costs one multiply-subtract on
    // the recursion's critical path instead of ten.
    double buf[10 + kMaxFilterLength];
    for (int i = 0; i < 10; ++i) buf[i] = mem[i];
    double* o = buf + 10;
    const double a1 = a[1], a2 = a[2], a3 = a[3], a4 = a[4], a5 = a[5];
    const double a6 = a[6], a7 = a[7], a8 = a[8], a9 = a[9], a10 = a[10];
    for (int i = 0; i < n; ++i) {
        double s = x[i] - a10 * o[i - 10];
        s -= a9 * o[i - 9];
        s -= a8 * o[i - 8];
        s -= a7 * o[i - 7];
        s -= a6 * o[i - 6];
        s -= a5 * o[i - 5];
        s -= a4 * o[i - 4];
        s -= a3 * o[i - 3];
        s -= a2 * o[i - 2];
        s -= a1 * o[i - 1];
        o[i] = s;
    }
    for (int i = 0; i < n; ++i) y[i] = o[i];
    if (update)
        for (int i = 0; i < 10; ++i) mem[i] = o[n - 10 + i];
}

void Convolve(const double* x, const double* h, double* y, int len) {
    // Eight outputs at a time in registers. Each y[n] sums in increasing i
    // as the direct form does; the zeros of the padding (h at negative
    // indices) come after its last term and leave it unchanged, since a sum
    // that starts at +0 is never -0.
    constexpr int B = 8;
    double hz[B - 1 + kMaxFilterLength] = {};
    for (int n = 0; n < len; ++n) hz[B - 1 + n] = h[n];
    int n0 = 0;
    for (; n0 + B <= len; n0 += B) {
        double acc[B] = {};
        for (int i = 0; i < n0 + B; ++i) {
            const double xi = x[i];
            const double* hq = hz + (B - 1) + (n0 - i);  // hq[q] = h[n0 + q - i]
            for (int q = 0; q < B; ++q) acc[q] += xi * hq[q];
        }
        for (int q = 0; q < B; ++q) y[n0 + q] = acc[q];
    }
    for (int n = n0; n < len; ++n) {
        double acc = 0.0;
        for (int i = 0; i <= n; ++i) acc += x[i] * h[n - i];
        y[n] = acc;
    }
}

void BackwardFilter(const double* x, const double* h, double* d) {
    // Eight outputs at a time in registers; d[i] sums in increasing j as the
    // direct form does. The padding zeros (h at negative indices) come before
    // its first term and only add +0 to a sum that is still +0.
    constexpr int L = kBackwardLength, B = 8;
    double hz[B - 1 + L];
    for (int n = 0; n < B - 1; ++n) hz[n] = 0.0;
    for (int n = 0; n < L; ++n) hz[B - 1 + n] = h[n];
    for (int i0 = 0; i0 < L; i0 += B) {
        double acc[B] = {};
        for (int j = i0; j < L; ++j) {
            const double xj = x[j];
            const double* hq = hz + (B - 1) + (j - i0);  // hq[-q] = h[j - i0 - q]
            for (int q = 0; q < B; ++q) acc[q] += xj * hq[-q];
        }
        for (int q = 0; q < B; ++q) d[i0 + q] = acc[q];
    }
}

}  // namespace aurivane::g729
