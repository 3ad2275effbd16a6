#include "g729/g729_lsp_quantizer.h"

#include <cmath>

#include "g729/g729_tables.h"

namespace aurivane::g729 {

void LsfPredictorMemory::Reset() {
    for (auto& v : past)
        for (int i = 0; i < kOrder; ++i) v[i] = kLsfInit[i];
}

void LspToLsf(const double lsp[10], double lsf[10]) {
    for (int i = 0; i < kOrder; ++i) {
        double c = lsp[i];
        if (c > 1.0) c = 1.0;
        if (c < -1.0) c = -1.0;
        lsf[i] = std::acos(c);
    }
}

void LsfToLsp(const double lsf[10], double lsp[10]) {
    for (int i = 0; i < kOrder; ++i) lsp[i] = std::cos(lsf[i]);
}

namespace {

// The first-stage codebook transposed, built once at load from the
// generated table.
struct LspCb1Transposed {
    double v[kOrder][kLspCb1Size];
};
LspCb1Transposed TransposeLspCb1() {
    LspCb1Transposed t;
    for (int c = 0; c < kLspCb1Size; ++c)
        for (int j = 0; j < kOrder; ++j) t.v[j][c] = kLspCb1[c][j];
    return t;
}
const LspCb1Transposed kLspCb1ByCoefficient = TransposeLspCb1();

// Pushes neighbours in [first, last) apart to at least gap.
void Expand(double buf[10], double gap, int first, int last) {
    for (int j = first; j < last; ++j) {
        const double half = (buf[j - 1] - buf[j] + gap) * 0.5;
        if (half > 0.0) {
            buf[j - 1] -= half;
            buf[j] += half;
        }
    }
}

void Compose(const double buf[10], int mode, const LsfPredictorMemory& mem, double lsfq[10]) {
    for (int j = 0; j < kOrder; ++j) {
        double s = buf[j] * kLspMaPredSum[mode][j];
        for (int k = 0; k < kMaOrder; ++k) s += kLspMaPred[mode][k][j] * mem.past[k][j];
        lsfq[j] = s;
    }
}

void Shift(const double buf[10], LsfPredictorMemory& mem) {
    for (int k = kMaOrder - 1; k > 0; --k)
        for (int j = 0; j < kOrder; ++j) mem.past[k][j] = mem.past[k - 1][j];
    for (int j = 0; j < kOrder; ++j) mem.past[0][j] = buf[j];
}

void Reconstruct(int mode, int c1, int c2, int c3, LsfPredictorMemory& mem, double lspq[10]) {
    double buf[10];
    for (int j = 0; j < kLspHalf; ++j) buf[j] = kLspCb1[c1][j] + kLspCb2[c2][j];
    for (int j = kLspHalf; j < kOrder; ++j) buf[j] = kLspCb1[c1][j] + kLspCb2[c3][j];
    Expand(buf, kGap1, 1, kOrder);
    Expand(buf, kGap2, 1, kOrder);
    double lsfq[10];
    Compose(buf, mode, mem, lsfq);
    Shift(buf, mem);
    StabilizeLsf(lsfq);
    LsfToLsp(lsfq, lspq);
}

}  // namespace

void StabilizeLsf(double lsf[10]) {
    // Insertion sort: the same as one exchange pass on the nearly ordered
    // vectors of real streams, and a true ordering on any other.
    for (int i = 1; i < kOrder; ++i)
        for (int j = i; j > 0 && lsf[j] < lsf[j - 1]; --j) {
            const double t = lsf[j];
            lsf[j] = lsf[j - 1];
            lsf[j - 1] = t;
        }
    if (lsf[0] < kLsfLow) lsf[0] = kLsfLow;
    for (int j = 0; j < kOrder - 1; ++j)
        if (lsf[j + 1] - lsf[j] < kGap3) lsf[j + 1] = lsf[j] + kGap3;
    // The codebooks keep the ninth LSF well below the limit, so clamping the
    // last one leaves the vector ordered.
    if (lsf[kOrder - 1] > kLsfHigh) lsf[kOrder - 1] = kLsfHigh;
}

void DecodeLsp(int lsp1, int lsp2, LsfPredictorMemory& mem, double lspq[10]) {
    const int mode = (lsp1 >> 7) & 1;
    Reconstruct(mode, lsp1 & 127, (lsp2 >> 5) & 31, lsp2 & 31, mem, lspq);
}

void QuantizeLsp(const double lsp[10], LsfPredictorMemory& mem, double lspq[10], int* lsp1,
                 int* lsp2) {
    double lsf[10];
    LspToLsf(lsp, lsf);

    double w[10];
    for (int i = 0; i < kOrder; ++i) {
        const double lo = i == 0 ? kPi04 : lsf[i - 1];
        const double hi = i == kOrder - 1 ? kPi92 : lsf[i + 1];
        const double d = hi - lo - 1.0;
        w[i] = d > 0.0 ? 1.0 : 10.0 * d * d + 1.0;
    }
    w[4] *= kConst12;
    w[5] *= kConst12;

    int cand[2], idx2[2], idx3[2];
    double dist[2];
    for (int mode = 0; mode < 2; ++mode) {
        double target[10];
        for (int j = 0; j < kOrder; ++j) {
            double s = lsf[j];
            for (int k = 0; k < kMaOrder; ++k) s -= kLspMaPred[mode][k][j] * mem.past[k][j];
            target[j] = s * kLspMaPredSumInv[mode][j];
        }
        // All 128 first-stage errors side by side (each still summed over
        // j in order), from the codebook stored coefficient-major.
        double err[kLspCb1Size] = {};
        for (int j = 0; j < kOrder; ++j) {
            const double tj = target[j];
            const double* column = kLspCb1ByCoefficient.v[j];
            for (int c = 0; c < kLspCb1Size; ++c) {
                const double t = tj - column[c];
                err[c] += t * t;
            }
        }
        int best = 0;
        double bestErr = INFINITY;
        for (int c = 0; c < kLspCb1Size; ++c)
            if (err[c] < bestErr) {
                bestErr = err[c];
                best = c;
            }
        cand[mode] = best;
        const double* l1 = kLspCb1[best];
        double buf[10];
        for (int half = 0; half < 2; ++half) {
            const int lo = half * kLspHalf;
            int bi = 0;
            double be = INFINITY;
            for (int c = 0; c < kLspCb2Size; ++c) {
                double e = 0.0;
                for (int j = lo; j < lo + kLspHalf; ++j) {
                    const double t = target[j] - l1[j] - kLspCb2[c][j];
                    e += w[j] * t * t;
                }
                if (e < be) {
                    be = e;
                    bi = c;
                }
            }
            for (int j = lo; j < lo + kLspHalf; ++j) buf[j] = l1[j] + kLspCb2[bi][j];
            if (half == 0) {
                idx2[mode] = bi;
                Expand(buf, kGap1, 1, kLspHalf);
            } else {
                idx3[mode] = bi;
                Expand(buf, kGap1, kLspHalf, kOrder);
            }
        }
        Expand(buf, kGap2, 1, kOrder);
        double e = 0.0;
        for (int j = 0; j < kOrder; ++j) {
            const double t = (buf[j] - target[j]) * kLspMaPredSum[mode][j];
            e += w[j] * t * t;
        }
        dist[mode] = e;
    }
    const int mode = dist[1] < dist[0] ? 1 : 0;
    *lsp1 = (mode << 7) | cand[mode];
    *lsp2 = (idx2[mode] << 5) | idx3[mode];
    Reconstruct(mode, cand[mode], idx2[mode], idx3[mode], mem, lspq);
}

}  // namespace aurivane::g729
