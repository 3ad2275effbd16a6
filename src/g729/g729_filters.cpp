#include "g729/g729_filters.h"

namespace aurivane::g729 {

void Residual(const double a[11], const double* x, double* y, int n) {
    for (int i = 0; i < n; ++i) {
        double s = x[i];
        for (int j = 1; j <= 10; ++j) s += a[j] * x[i - j];
        y[i] = s;
    }
}

void Synthesis(const double a[11], const double* x, double* y, int n, double mem[10], bool update) {
    double buf[10 + kMaxFilterLength];
    for (int i = 0; i < 10; ++i) buf[i] = mem[i];
    double* out = buf + 10;
    for (int i = 0; i < n; ++i) {
        double s = x[i];
        for (int j = 1; j <= 10; ++j) s -= a[j] * out[i - j];
        out[i] = s;
    }
    for (int i = 0; i < n; ++i) y[i] = out[i];
    if (update)
        for (int i = 0; i < 10; ++i) mem[i] = out[n - 10 + i];
}

void Convolve(const double* x, const double* h, double* y, int len) {
    for (int n = 0; n < len; ++n) {
        double s = 0.0;
        for (int i = 0; i <= n; ++i) s += x[i] * h[n - i];
        y[n] = s;
    }
}

double Dot(const double* x, const double* y, int n) {
    double s = 0.0;
    for (int i = 0; i < n; ++i) s += x[i] * y[i];
    return s;
}

}  // namespace aurivane::g729
