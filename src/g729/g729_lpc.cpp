#include "g729/g729_lpc.h"

#include "g729/g729_tables.h"

namespace aurivane::g729 {

void WindowedAutocorrelation(const double* speech240, double r[11]) {
    // Sample-major with all eleven lags side by side: each r[k] still sums
    // in increasing i, but the eleven chains no longer wait on each other.
    // The zeros before the window only add +0 to sums that are still +0.
    double w[kOrder + kWindow];
    for (int i = 0; i < kOrder; ++i) w[i] = 0.0;
    for (int i = 0; i < kWindow; ++i) w[kOrder + i] = speech240[i] * kLpWindow[i];
    double acc[kOrder + 1] = {};
    for (int i = kOrder; i < kOrder + kWindow; ++i) {
        const double wi = w[i];
        for (int k = 0; k <= kOrder; ++k) acc[k] += wi * w[i - k];
    }
    for (int k = 0; k <= kOrder; ++k) r[k] = acc[k];
    if (r[0] < 1.0) r[0] = 1.0;
    for (int k = 0; k <= kOrder; ++k) r[k] *= kLagWindow[k];
}

void Levinson(const double r[11], double a[11]) {
    double tmp[11];
    a[0] = 1.0;
    for (int i = 1; i <= kOrder; ++i) a[i] = 0.0;
    double err = r[0];
    for (int i = 1; i <= kOrder; ++i) {
        double acc = r[i];
        for (int j = 1; j < i; ++j) acc += a[j] * r[i - j];
        const double k = -acc / err;
        for (int j = 1; j < i; ++j) tmp[j] = a[j] + k * a[i - j];
        for (int j = 1; j < i; ++j) a[j] = tmp[j];
        a[i] = k;
        err *= 1.0 - k * k;
        if (err <= 0.0) err = 0.001;
    }
}

namespace {

// C(x) = T5(x) + f1 T4(x) + ... + f4 T1(x) + f5 / 2, by the Clenshaw recursion.
double Chebyshev(double x, const double f[6]) {
    double b2 = 1.0;
    double b1 = 2.0 * x + f[1];
    for (int i = 2; i < 5; ++i) {
        const double b0 = 2.0 * x * b1 - b2 + f[i];
        b2 = b1;
        b1 = b0;
    }
    return x * b1 - b2 + 0.5 * f[5];
}

void LspPolynomial(const double* lsp, double f[6]) {
    // Product of (1 - 2 q z^-1 + z^-2) over every second LSP.
    f[0] = 1.0;
    f[1] = -2.0 * lsp[0];
    for (int i = 2; i <= 5; ++i) {
        const double b = -2.0 * lsp[2 * i - 2];
        f[i] = b * f[i - 1] + 2.0 * f[i - 2];
        for (int j = i - 1; j > 1; --j) f[j] += b * f[j - 1] + f[j - 2];
        f[1] += b;
    }
}

}  // namespace

bool LpcToLsp(const double a[11], double lsp[10]) {
    double f1[6], f2[6];
    f1[0] = 1.0;
    f2[0] = 1.0;
    for (int i = 0; i < 5; ++i) {
        f1[i + 1] = a[i + 1] + a[kOrder - i] - f1[i];
        f2[i + 1] = a[i + 1] - a[kOrder - i] + f2[i];
    }
    double found[10];
    int nf = 0;
    const double* coef = f1;
    double xlow = kLspGrid[0];
    double ylow = Chebyshev(xlow, coef);
    for (int j = 1; j <= kGridPoints && nf < kOrder; ++j) {
        double xhigh = xlow, yhigh = ylow;
        xlow = kLspGrid[j];
        ylow = Chebyshev(xlow, coef);
        if (ylow * yhigh > 0.0) continue;
        for (int b = 0; b < 2; ++b) {
            const double xmid = 0.5 * (xlow + xhigh);
            const double ymid = Chebyshev(xmid, coef);
            if (ylow * ymid <= 0.0) {
                yhigh = ymid;
                xhigh = xmid;
            } else {
                ylow = ymid;
                xlow = xmid;
            }
        }
        const double dy = yhigh - ylow;
        const double xint = dy != 0.0 ? xlow - ylow * (xhigh - xlow) / dy : xlow;
        found[nf++] = xint;
        xlow = xint;
        coef = (coef == f1) ? f2 : f1;
        ylow = Chebyshev(xlow, coef);
    }
    if (nf < kOrder) return false;
    for (int i = 0; i < kOrder; ++i) lsp[i] = found[i];
    return true;
}

void LspToLpc(const double lsp[10], double a[11]) {
    double f1[6], f2[6];
    LspPolynomial(lsp, f1);
    LspPolynomial(lsp + 1, f2);
    for (int i = 5; i > 0; --i) {
        f1[i] += f1[i - 1];
        f2[i] -= f2[i - 1];
    }
    a[0] = 1.0;
    for (int i = 1; i <= 5; ++i) {
        a[i] = 0.5 * (f1[i] + f2[i]);
        a[11 - i] = 0.5 * (f1[i] - f2[i]);
    }
}

void WeightLpc(const double a[11], double gamma, double out[11]) {
    double g = 1.0;
    for (int i = 0; i <= kOrder; ++i) {
        out[i] = a[i] * g;
        g *= gamma;
    }
}

}  // namespace aurivane::g729
