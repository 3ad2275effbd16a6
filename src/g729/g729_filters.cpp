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
    // Input-major: every y[n] still sums its terms in increasing i, and the
    // inner loop runs over contiguous n, which the compiler vectorises.
    for (int n = 0; n < len; ++n) y[n] = 0.0;
    for (int i = 0; i < len; ++i) {
        const double xi = x[i];
        for (int n = i; n < len; ++n) y[n] += xi * h[n - i];
    }
}

void BackwardFilter(const double* x, const double* h, double* d) {
    // d[i] accumulates in increasing j as in the direct form; with h
    // reversed the inner loop over i reads contiguous memory.
    constexpr int L = kBackwardLength;
    double hr[L];
    for (int k = 0; k < L; ++k) hr[k] = h[L - 1 - k];
    for (int i = 0; i < L; ++i) d[i] = 0.0;
    for (int j = 0; j < L; ++j) {
        const double xj = x[j];
        const double* hj = hr + (L - 1 - j);  // hj[i] = h[j - i]
        for (int i = 0; i <= j; ++i) d[i] += xj * hj[i];
    }
}

}  // namespace aurivane::g729
