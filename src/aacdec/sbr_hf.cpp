#include "aacdec/sbr_hf.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "dsp/sbr_tables.h"

namespace aurivane {

namespace {

constexpr int kHfAdj = 2;
// Complex noise in an oversampled complex bank reaches the output with half
// its energy; real noise in the critically sampled real bank with all of
// it, so the real path adds the real part at half the energy.
constexpr float kRealNoiseScale = 0.70710678f;

int NoiseBandOf(const SbrFreqTables& t, int k) {
    for (int g = 0; g < t.nQ; ++g)
        if (k < t.fNoise[g + 1]) return g;
    return t.nQ - 1;
}

// Real-valued path: adjacent subbands that share a sinusoid cancel each
// other's aliasing in the synthesis only with equal gains. Within each
// limiter band, runs of such subbands (no added sinusoid) are pulled toward
// their common gain by the degree of aliasing, keeping the run's energy.
void ReduceAliasing(const SbrFreqTables& t, const float* degreeAlias, const float* eCurr, const float* sM,
                    float* gain) {
    const int kx = t.kx;
    for (int b = 0; b < t.nLim; ++b) {
        const int lo = t.fLim[b] - kx, hi = t.fLim[b + 1] - kx;
        int m = lo;
        while (m < hi) {
            // A run [m, e): each band after the first is linked to its lower neighbour.
            int e = m + 1;
            while (e < hi && degreeAlias[e + kx] > 0.0f && sM[e] == 0.0f && sM[e - 1] == 0.0f) ++e;
            if (e - m >= 2) {
                double eGain = 0.0, eRaw = 0.0;
                for (int i = m; i < e; ++i) {
                    eGain += static_cast<double>(gain[i]) * gain[i] * eCurr[i];
                    eRaw += eCurr[i];
                }
                const double target = eGain / (eRaw + 1e-12);
                double eNew = 0.0;
                double g2[64];
                for (int i = m; i < e; ++i) {
                    float alpha = 0.0f;
                    if (i > m) alpha = std::max(alpha, degreeAlias[i + kx]);
                    if (i + 1 < e) alpha = std::max(alpha, degreeAlias[i + 1 + kx]);
                    g2[i] = alpha * target + (1.0 - alpha) * gain[i] * gain[i];
                    eNew += g2[i] * eCurr[i];
                }
                const double norm = eNew > 0.0 ? eGain / eNew : 1.0;
                for (int i = m; i < e; ++i) gain[i] = static_cast<float>(std::sqrt(g2[i] * norm));
            }
            m = e;
        }
    }
}

}  // namespace

void SbrChirpFactors(int nQ, const int* invfMode, int* invfModePrev, float* bwPrev, float* bw) {
    for (int i = 0; i < nQ; ++i) {
        float target;
        switch (invfMode[i]) {
            case 0: target = invfModePrev[i] == 1 ? 0.6f : 0.0f; break;
            case 1: target = invfModePrev[i] == 0 ? 0.6f : 0.75f; break;
            case 2: target = 0.9f; break;
            default: target = 0.98f; break;
        }
        float b = target < bwPrev[i] ? 0.75f * target + 0.25f * bwPrev[i] : 0.90625f * target + 0.09375f * bwPrev[i];
        if (b < 0.015625f) b = 0.0f;
        if (b > 0.99609375f) b = 0.99609375f;
        bw[i] = b;
        bwPrev[i] = b;
        invfModePrev[i] = invfMode[i];
    }
}

void SbrHfGenerate(const SbrFreqTables& t, const SbrLowBands& low, bool complex, const float* bw, int slotBegin,
                   int slotEnd, SbrSubbands* high, float* degreeAlias) {
    // Second-order linear prediction per source band from the covariance
    // over the whole look-back window.
    float a0r[32], a0i[32], a1r[32], a1i[32];
    float refl[32] = {};  // first reflection coefficient, real-valued path
    // phi(i,j) = sum_n x(n - i + 2) conj(x(n - j + 2)), n = 0..37, for every
    // source band at once: slots outside, bands inside, so the sums
    // vectorise over p. phi(1,1), phi(1,2) and phi(0,2) are summed; phi(2,2)
    // and phi(0,1) are phi(1,1) and phi(1,2) one slot earlier, taken from
    // them by their end terms.
    const int numSource = std::min(t.k0, 32);
    double r01[32], i01[32], r22[32];
    double r02[32] = {}, i02[32] = {}, r11[32] = {}, r12[32] = {}, i12[32] = {};
    for (int n = 0; n < 38; ++n) {
        const float* __restrict y0r = low.re[n + 2];
        const float* __restrict y0i = low.im[n + 2];
        const float* __restrict y1r = low.re[n + 1];
        const float* __restrict y1i = low.im[n + 1];
        const float* __restrict y2r = low.re[n];
        const float* __restrict y2i = low.im[n];
        for (int p = 0; p < numSource; ++p) {
            const double x0r = y0r[p], x0i = y0i[p], x1r = y1r[p], x1i = y1i[p], x2r = y2r[p], x2i = y2i[p];
            r02[p] += x0r * x2r + x0i * x2i;
            i02[p] += x0i * x2r - x0r * x2i;
            r11[p] += x1r * x1r + x1i * x1i;
            r12[p] += x1r * x2r + x1i * x2i;
            i12[p] += x1i * x2r - x1r * x2i;
        }
    }
    for (int p = 0; p < numSource; ++p) {
        const double a0r = low.re[0][p], a0i = low.im[0][p], a1r = low.re[1][p], a1i = low.im[1][p];
        const double b0r = low.re[38][p], b0i = low.im[38][p], b1r = low.re[39][p], b1i = low.im[39][p];
        r22[p] = r11[p] + (a0r * a0r + a0i * a0i) - (b0r * b0r + b0i * b0i);
        r01[p] = r12[p] - (a1r * a0r + a1i * a0i) + (b1r * b0r + b1i * b0i);
        i01[p] = i12[p] - (a1i * a0r - a1r * a0i) + (b1i * b0r - b1r * b0i);
    }
    for (int p = 0; p < numSource; ++p) {
        double ar1 = 0, ai1 = 0, ar0 = 0, ai0 = 0;
        const double det = r22[p] * r11[p] - (r12[p] * r12[p] + i12[p] * i12[p]) / (1.0 + 1e-6);
        if (det != 0.0) {
            // alpha1 = (phi01 phi12 - phi02 phi11) / det
            ar1 = ((r01[p] * r12[p] - i01[p] * i12[p]) - r02[p] * r11[p]) / det;
            ai1 = ((r01[p] * i12[p] + i01[p] * r12[p]) - i02[p] * r11[p]) / det;
        }
        if (r11[p] != 0.0) {
            // alpha0 = -(phi01 + alpha1 conj(phi12)) / phi11
            ar0 = -(r01[p] + ar1 * r12[p] + ai1 * i12[p]) / r11[p];
            ai0 = -(i01[p] + ai1 * r12[p] - ar1 * i12[p]) / r11[p];
        }
        if (r11[p] != 0.0) refl[p] = static_cast<float>(std::clamp(-r01[p] / r11[p], -1.0, 1.0));
        if (ar0 * ar0 + ai0 * ai0 >= 16.0 || ar1 * ar1 + ai1 * ai1 >= 16.0) ar0 = ai0 = ar1 = ai1 = 0.0;
        a0r[p] = static_cast<float>(ar0);
        a0i[p] = static_cast<float>(complex ? ai0 : 0.0);
        a1r[p] = static_cast<float>(ar1);
        a1i[p] = static_cast<float>(complex ? ai1 : 0.0);
    }
    if (degreeAlias) {
        // A real subband signal x(n) ~ cos(w n) gives r ~ -cos(w); odd bands
        // are spectrally inverted. A sinusoid near the border of bands p-1
        // and p sits low in an even band p (r < 0) and high in the odd band
        // p-1 (r < 0), or the mirror of that for odd p: both coefficients
        // share the sign (-1)^(p+1), and the closer to +-1, the more of
        // its energy each band's alias carries.
        for (int k = 0; k < 64; ++k) degreeAlias[k] = 0.0f;
        int k = t.kx;
        for (int patch = 0; patch < t.numPatches; ++patch) {
            for (int x = 0; x < t.patchNumSubbands[patch]; ++x, ++k) {
                const int p = t.patchStartSubband[patch] + x;
                if (x == 0 || p < 1 || p >= 32 || k >= 64) continue;
                const float sign = (p & 1) ? 1.0f : -1.0f;
                const float a = refl[p] * sign, b = refl[p - 1] * sign;
                if (a > 0.0f && b > 0.0f) degreeAlias[k] = std::min(a, b);
            }
        }
    }
    // Per target band: the chirp-weighted predictor of its source band.
    float c0r[64], c0i[64], c1r[64], c1i[64];
    int k = t.kx;
    for (int patch = 0; patch < t.numPatches; ++patch) {
        for (int x = 0; x < t.patchNumSubbands[patch]; ++x, ++k) {
            const int p = t.patchStartSubband[patch] + x;
            const float b = bw[NoiseBandOf(t, k)];
            c0r[k] = b * a0r[p], c0i[k] = b * a0i[p];
            c1r[k] = b * b * a1r[p], c1i[k] = b * b * a1i[p];
        }
    }
    // Each patch copies a contiguous run of source bands: bands inside.
    k = t.kx;
    for (int patch = 0; patch < t.numPatches; ++patch) {
        const int count = t.patchNumSubbands[patch], p0 = t.patchStartSubband[patch];
        for (int l = slotBegin; l < slotEnd; ++l) {
            const int n = l + kHfAdj;
            const float* __restrict x0r = low.re[n] + p0;
            const float* __restrict x0i = low.im[n] + p0;
            const float* __restrict x1r = low.re[n - 1] + p0;
            const float* __restrict x1i = low.im[n - 1] + p0;
            const float* __restrict x2r = low.re[n - 2] + p0;
            const float* __restrict x2i = low.im[n - 2] + p0;
            float* __restrict yr = high->re[n] + k;
            float* __restrict yi = high->im[n] + k;
            const float* __restrict a0 = c0r + k;
            const float* __restrict b0 = c0i + k;
            const float* __restrict a1 = c1r + k;
            const float* __restrict b1 = c1i + k;
            for (int x = 0; x < count; ++x) {
                yr[x] = x0r[x] + a0[x] * x1r[x] - b0[x] * x1i[x] + a1[x] * x2r[x] - b1[x] * x2i[x];
                yi[x] = x0i[x] + a0[x] * x1i[x] + b0[x] * x1r[x] + a1[x] * x2i[x] + b1[x] * x2r[x];
            }
        }
        k += count;
    }
}

void SbrCarrySinusoids(const SbrGrid& grid, int nHigh, const int* addHarmonic, int* prev) {
    const bool lastStarts = grid.numEnv - 1 >= grid.transientEnv;
    for (int i = 0; i < nHigh; ++i) prev[i] = addHarmonic[i] && (lastStarts || prev[i]) ? 1 : 0;
}

void SbrHfAdjust(const SbrAdjustInput& in, SbrAdjusterState* st, SbrSubbands* high) {
    static const float kLimGain[4] = {0.70795f, 1.0f, 1.41254f, 1e10f};
    static const float kSmooth[5] = {0.33333333f, 0.30150283f, 0.21816949f, 0.11516383f, 0.03183050f};
    const double kEps = 1e-12;
    const SbrFreqTables& t = *in.tables;
    const SbrGrid& g = *in.grid;
    const int kx = t.kx, mCount = t.m;
    const bool smoothing = in.header->smoothingMode == 0;
    const float limGain = kLimGain[in.header->limiterGains & 3];

    // Sinusoid positions: the middle subband of each high-resolution band.
    int sineAt[64];
    for (int m = 0; m < mCount; ++m) sineAt[m] = -1;
    for (int i = 0; i < t.n[1]; ++i) {
        int mid = ((t.fHigh[i] + t.fHigh[i + 1]) >> 1) - kx;
        if (mid >= 0 && mid < mCount) sineAt[mid] = i;
    }

    for (int l = 0; l < g.numEnv; ++l) {
        const int res = g.freqRes[l];
        const int* fTab = res ? t.fHigh : t.fLow;
        const int nBands = t.n[res];
        const int iBegin = 2 * g.tE[l], iEnd = 2 * g.tE[l + 1];
        const bool transient = l == g.transientEnv || (l == 0 && in.prevTransientAtEnd);
        int q = 0;
        while (q + 1 < g.numNoise && g.tE[l] >= g.tQ[q + 1]) ++q;

        float eCurr[48], eOrig[48], qMap[48], sIndex[48], sMapped[48];
        // Estimated energies.
        double energy[64] = {};
        for (int i = iBegin; i < iEnd; ++i) {
            const float* __restrict xr = high->re[i + kHfAdj] + kx;
            const float* __restrict xi = high->im[i + kHfAdj] + kx;
            for (int m = 0; m < mCount; ++m)
                energy[m] += static_cast<double>(xr[m]) * xr[m] + static_cast<double>(xi[m]) * xi[m];
        }
        for (int m = 0; m < mCount; ++m) {
            // A real subband carries half the energy of its complex
            // counterpart, which the envelope data describe.
            const double s = energy[m];
            eCurr[m] = static_cast<float>((in.complex ? s : 2.0 * s) / (iEnd - iBegin));
        }
        int band = 0;
        for (int m = 0; m < mCount; ++m) {
            while (band + 1 < nBands && m + kx >= fTab[band + 1]) ++band;
            eOrig[m] = in.envOrig[l][band];
        }
        if (in.header->interpolFreq == 0) {
            for (int b = 0; b < nBands; ++b) {
                double s = 0.0;
                int lo = fTab[b] - kx, hi = fTab[b + 1] - kx;
                for (int m = lo; m < hi; ++m) s += eCurr[m];
                for (int m = lo; m < hi; ++m) eCurr[m] = static_cast<float>(s / (hi - lo));
            }
        }
        int nb = 0;
        for (int m = 0; m < mCount; ++m) {
            while (nb + 1 < t.nQ && m + kx >= t.fNoise[nb + 1]) ++nb;
            qMap[m] = in.noiseOrig[q][nb];
            int i = sineAt[m];
            sIndex[m] = (i >= 0 && in.addHarmonic[i] && (l >= g.transientEnv || in.addHarmonicPrev[i])) ? 1.0f : 0.0f;
        }
        for (int b = 0; b < nBands; ++b) {
            float any = 0.0f;
            for (int m = fTab[b] - kx; m < fTab[b + 1] - kx; ++m) any = std::max(any, sIndex[m]);
            for (int m = fTab[b] - kx; m < fTab[b + 1] - kx; ++m) sMapped[m] = any;
        }

        float gain[48], qM[48], sM[48];
        for (int m = 0; m < mCount; ++m) {
            const double eo = eOrig[m], ec = eCurr[m], qv = qMap[m];
            if (sMapped[m] == 0.0f)
                gain[m] = static_cast<float>(std::sqrt(eo / ((1.0 + ec) * (1.0 + (transient ? 0.0 : qv)))));
            else
                gain[m] = static_cast<float>(std::sqrt(eo / (1.0 + ec) * qv / (1.0 + qv)));
            qM[m] = static_cast<float>(std::sqrt(eo * qv / (1.0 + qv)));
            sM[m] = static_cast<float>(std::sqrt(eo * sIndex[m] / (1.0 + qv)));
        }
        // Limiter and boost per limiter band.
        for (int k = 0; k < t.nLim; ++k) {
            const int lo = t.fLim[k] - kx, hi = t.fLim[k + 1] - kx;
            double sumO = 0.0, sumC = 0.0;
            for (int m = lo; m < hi; ++m) {
                sumO += eOrig[m];
                sumC += eCurr[m];
            }
            const double gMax = std::min(std::sqrt((kEps + sumO) / (kEps + sumC)) * limGain, 1e5);
            double den = 0.0;
            for (int m = lo; m < hi; ++m) {
                if (gain[m] > gMax) {
                    qM[m] = static_cast<float>(qM[m] * (gMax / gain[m]));
                    gain[m] = static_cast<float>(gMax);
                }
                den += static_cast<double>(eCurr[m]) * gain[m] * gain[m] + static_cast<double>(sM[m]) * sM[m];
                if (sM[m] == 0.0f && !transient) den += static_cast<double>(qM[m]) * qM[m];
            }
            const double boost = std::min(std::sqrt((kEps + sumO) / (kEps + den)), 1.584893192);
            for (int m = lo; m < hi; ++m) {
                gain[m] = static_cast<float>(gain[m] * boost);
                qM[m] = static_cast<float>(qM[m] * boost);
                sM[m] = static_cast<float>(sM[m] * boost);
            }
        }
        // Bands above the last limiter border (no patch reaches them) have no
        // limited gain: they stay empty, without noise floor or sinusoid.
        for (int m = std::max(t.fLim[t.nLim] - kx, 0); m < mCount; ++m) gain[m] = qM[m] = sM[m] = 0.0f;
        if (!in.complex && in.degreeAlias) ReduceAliasing(t, in.degreeAlias, eCurr, sM, gain);
        if (st->reset) {
            for (int h = 0; h < 5; ++h)
                for (int m = 0; m < mCount; ++m) {
                    st->gHist[h][m] = gain[m];
                    st->qHist[h][m] = qM[m];
                }
            st->reset = false;
        }
        // Assembly with gain smoothing, noise floor and sinusoids. The
        // smoothing history is a ring of 5 slots, histHead the newest.
        const bool smooth = smoothing && !transient;
        // Noise floor where no sinusoid sits and the envelope is not
        // transient, as a 0/1 weight (exact) so the slot loop has no branch;
        // the few sinusoid bands are listed.
        float noiseOn[48];
        int sines[48], numSines = 0;
        for (int m = 0; m < mCount; ++m) {
            noiseOn[m] = sM[m] == 0.0f && !transient ? 1.0f : 0.0f;
            if (sM[m] != 0.0f) sines[numSines++] = m;
        }
        const float noiseScale = in.complex ? 1.0f : kRealNoiseScale;
        for (int i = iBegin; i < iEnd; ++i) {
            st->histHead = st->histHead == 0 ? 4 : st->histHead - 1;
            std::memcpy(st->gHist[st->histHead], gain, sizeof(float) * mCount);
            std::memcpy(st->qHist[st->histHead], qM, sizeof(float) * mCount);
            float gf[48], qf[48];
            if (smooth) {
                for (int m = 0; m < mCount; ++m) gf[m] = qf[m] = 0.0f;
                for (int h = 0; h < 5; ++h) {
                    const float* gh = st->gHist[(st->histHead + h) % 5];
                    const float* qh = st->qHist[(st->histHead + h) % 5];
                    for (int m = 0; m < mCount; ++m) {
                        gf[m] += gh[m] * kSmooth[h];
                        qf[m] += qh[m] * kSmooth[h];
                    }
                }
            } else {
                std::memcpy(gf, gain, sizeof(float) * mCount);
                std::memcpy(qf, qM, sizeof(float) * mCount);
            }
            // The sinusoid phase advances after each slot, the noise index
            // before each use.
            const int si = st->sineIndex;
            st->sineIndex = (st->sineIndex + 1) & 3;
            const int noiseBase = st->noiseIndex;
            st->noiseIndex = (noiseBase + mCount) & 511;
            float* __restrict yr = high->re[i + kHfAdj] + kx;
            float* __restrict yi = high->im[i + kHfAdj] + kx;
            float nq[48];
            for (int m = 0; m < mCount; ++m) {
                yr[m] *= gf[m];
                yi[m] *= gf[m];
                nq[m] = (in.complex ? qf[m] : qf[m] * noiseScale) * noiseOn[m];
            }
            // Band m takes noise entry (noiseBase + m + 1) mod 512: two runs
            // of consecutive entries around the wrap.
            const int wrap = std::min(mCount, 511 - noiseBase);
            for (int run = 0; run < 2; ++run) {
                const int m0 = run ? wrap : 0, m1 = run ? mCount : wrap;
                const int base = noiseBase + 1 - (run ? 512 : 0);
                if (in.complex) {
                    for (int m = m0; m < m1; ++m) {
                        yr[m] += nq[m] * kSbrNoiseTable[base + m][0];
                        yi[m] += nq[m] * kSbrNoiseTable[base + m][1];
                    }
                } else {
                    for (int m = m0; m < m1; ++m) yr[m] += nq[m] * kSbrNoiseTable[base + m][0];
                }
            }
            for (int j = 0; j < numSines; ++j) {
                // phi = 1, i, -1, -i; the imaginary part alternates with the band.
                const int m = sines[j];
                const float s = sM[m];
                if (si == 0) yr[m] += s;
                else if (si == 2) yr[m] -= s;
                else if (in.complex) {
                    const float sign = ((m + kx) & 1) ? -1.0f : 1.0f;
                    yi[m] += (si == 1 ? s : -s) * sign;
                }
            }
            if (!in.complex) std::memset(yi, 0, sizeof(float) * mCount);
        }
    }
}

}  // namespace aurivane
