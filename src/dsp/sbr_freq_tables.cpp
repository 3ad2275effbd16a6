#include "dsp/sbr_freq_tables.h"

#include <algorithm>
#include <cmath>

#include "dsp/sbr_tables.h"

namespace aurivane {

namespace {

int StartMin(int fs) {
    int f = fs < 32000 ? 3000 : (fs < 64000 ? 4000 : 5000);
    return static_cast<int>(std::lround(f * 128.0 / fs));
}

int StopMin(int fs) {
    int f = fs < 32000 ? 6000 : (fs < 64000 ? 8000 : 10000);
    return static_cast<int>(std::lround(f * 128.0 / fs));
}

int OffsetRow(int fs) {
    if (fs <= 16000) return 0;
    if (fs <= 22050) return 1;
    if (fs <= 24000) return 2;
    if (fs <= 32000) return 3;
    if (fs <= 64000) return 4;
    return 5;
}

// Band widths of numBands bands spaced geometrically from a to b, sorted
// ascending (CalcBands of the standard).
bool GeometricBands(int a, int b, int numBands, int* dk) {
    if (numBands <= 0 || numBands > 64) return false;
    double ratio = static_cast<double>(b) / a;
    int prev = a;
    for (int k = 1; k <= numBands; ++k) {
        int cur = static_cast<int>(std::lround(a * std::pow(ratio, static_cast<double>(k) / numBands)));
        dk[k - 1] = cur - prev;
        prev = cur;
    }
    std::sort(dk, dk + numBands);
    return dk[0] > 0;
}

bool BuildPatches(int fs, SbrFreqTables* t) {
    const int k0 = t->k0, kx = t->kx, m = t->m;
    int msb = k0, usb = kx;
    int goalSb = static_cast<int>(std::lround(2.048e6 / fs));
    int k;
    if (goalSb < kx + m) {
        k = 0;
        for (int i = 0; i < t->nMaster && t->fMaster[i] < goalSb; ++i) k = i + 1;
    } else {
        k = t->nMaster;
    }
    t->numPatches = 0;
    int sb = 0;
    for (int guard = 0; guard < 64; ++guard) {
        int j = k + 1;
        int odd = 0;
        do {
            --j;
            if (j < 0) return false;
            sb = t->fMaster[j];
            odd = (sb - 2 + k0) % 2;
        } while (sb > k0 - 1 + msb - odd);
        int num = std::max(sb - usb, 0);
        if (t->numPatches >= 6) return false;
        t->patchNumSubbands[t->numPatches] = num;
        t->patchStartSubband[t->numPatches] = k0 - odd - num;
        if (num > 0) {
            usb = sb;
            msb = sb;
            ++t->numPatches;
        } else {
            msb = kx;
        }
        if (t->fMaster[k] - sb < 3) k = t->nMaster;
        if (sb == kx + m) break;
        if (guard == 63) return false;
    }
    if (t->numPatches > 1 && t->patchNumSubbands[t->numPatches - 1] < 3) --t->numPatches;
    if (t->numPatches < 1 || t->numPatches > 5) return false;
    for (int p = 0; p < t->numPatches; ++p) {
        if (t->patchStartSubband[p] < 0 || t->patchStartSubband[p] + t->patchNumSubbands[p] > k0) return false;
    }
    return true;
}

void BuildLimiter(const SbrHeader& h, SbrFreqTables* t) {
    const int nLow = t->n[0];
    if (h.limiterBands == 0) {
        t->nLim = 1;
        t->fLim[0] = t->fLow[0];
        t->fLim[1] = t->fLow[nLow];
        return;
    }
    static const double kLimBands[3] = {1.2, 2.0, 3.0};
    const double limBands = kLimBands[h.limiterBands - 1];
    int patchBorders[7];
    patchBorders[0] = t->kx;
    for (int i = 1; i <= t->numPatches; ++i) patchBorders[i] = patchBorders[i - 1] + t->patchNumSubbands[i - 1];
    int lim[64];
    int count = 0;
    for (int i = 0; i <= nLow; ++i) lim[count++] = t->fLow[i];
    for (int i = 1; i < t->numPatches; ++i) lim[count++] = patchBorders[i];
    std::sort(lim, lim + count);
    // Only patch borders are protected from merging: when a last short patch
    // was discarded, kx + M is no patch border and may be merged away, which
    // leaves the unpatched top bands outside every limiter band.
    auto isBorder = [&](int v) {
        for (int i = 0; i <= t->numPatches; ++i)
            if (patchBorders[i] == v) return true;
        return false;
    };
    int nrLim = count - 1;
    int k = 1;
    while (k <= nrLim) {
        double nOctaves = std::log(static_cast<double>(lim[k]) / lim[k - 1]) / std::log(2.0);
        if (nOctaves * limBands < 0.49) {
            int remove;
            if (lim[k] == lim[k - 1]) {
                remove = k;
            } else if (isBorder(lim[k])) {
                if (isBorder(lim[k - 1])) {
                    ++k;
                    continue;
                }
                remove = k - 1;
            } else {
                remove = k;
            }
            for (int i = remove; i < nrLim; ++i) lim[i] = lim[i + 1];
            --nrLim;
            continue;
        }
        ++k;
    }
    t->nLim = nrLim;
    for (int i = 0; i <= nrLim; ++i) t->fLim[i] = lim[i];
}

}  // namespace

int SbrStartBand(int startFreq, int fs) { return StartMin(fs) + kSbrStartOffsets[OffsetRow(fs)][startFreq & 15]; }

int SbrStopBand(int stopFreq, int fs, int k0) {
    if (stopFreq == 14) return std::min(64, 2 * k0);
    if (stopFreq >= 15) return std::min(64, 3 * k0);
    const int stopMin = StopMin(fs);
    int dk[13];
    int prev = stopMin;
    for (int i = 0; i < 13; ++i) {
        int cur = static_cast<int>(std::lround(stopMin * std::pow(64.0 / stopMin, (i + 1) / 13.0)));
        dk[i] = cur - prev;
        prev = cur;
    }
    std::sort(dk, dk + 13);
    int k2 = stopMin;
    for (int i = 0; i < stopFreq; ++i) k2 += dk[i];
    return std::min(64, k2);
}

bool SbrMasterTable(int k0, int k2, int freqScale, int alterScale, int* fMaster, int* nMaster) {
    if (freqScale == 0) {
        int dk = alterScale ? 2 : 1;
        int numBands = alterScale ? 2 * ((k2 - k0 + 2) >> 2) : 2 * ((k2 - k0) >> 1);
        if (numBands < 1 || numBands > 64) return false;
        int vDk[64];
        for (int k = 0; k < numBands; ++k) vDk[k] = dk;
        int k2Diff = k2 - (k0 + numBands * dk);
        if (k2Diff != 0) {
            int incr = k2Diff < 0 ? 1 : -1;
            int k = k2Diff < 0 ? 0 : numBands - 1;
            while (k2Diff != 0 && k >= 0 && k < numBands) {
                vDk[k] -= incr;
                k += incr;
                k2Diff += incr;
            }
            if (k2Diff != 0) return false;
        }
        fMaster[0] = k0;
        for (int k = 1; k <= numBands; ++k) {
            if (vDk[k - 1] <= 0) return false;
            fMaster[k] = fMaster[k - 1] + vDk[k - 1];
        }
        *nMaster = numBands;
        return true;
    }
    static const int kBands[3] = {12, 10, 8};
    const int bands = kBands[freqScale - 1];
    const double warp = alterScale ? 1.3 : 1.0;
    bool twoRegions = static_cast<double>(k2) / k0 > 2.2449;
    int k1 = twoRegions ? 2 * k0 : k2;
    int numBands0 = 2 * static_cast<int>(std::lround(bands * std::log(static_cast<double>(k1) / k0) / (2.0 * std::log(2.0))));
    int vDk0[64];
    if (!GeometricBands(k0, k1, numBands0, vDk0)) return false;
    fMaster[0] = k0;
    for (int k = 1; k <= numBands0; ++k) fMaster[k] = fMaster[k - 1] + vDk0[k - 1];
    *nMaster = numBands0;
    if (twoRegions) {
        int numBands1 = 2 * static_cast<int>(std::lround(bands * std::log(static_cast<double>(k2) / k1) / (2.0 * std::log(2.0) * warp)));
        int vDk1[64];
        if (!GeometricBands(k1, k2, numBands1, vDk1)) return false;
        if (numBands0 + numBands1 > 64) return false;
        if (vDk1[0] < vDk0[numBands0 - 1]) {
            int change = vDk0[numBands0 - 1] - vDk1[0];
            vDk1[0] += change;
            vDk1[numBands1 - 1] -= change;
            std::sort(vDk1, vDk1 + numBands1);
            if (vDk1[0] <= 0) return false;
        }
        for (int k = 1; k <= numBands1; ++k) fMaster[numBands0 + k] = fMaster[numBands0 + k - 1] + vDk1[k - 1];
        *nMaster = numBands0 + numBands1;
    }
    return true;
}

int SbrNoiseBandTable(int noiseBands, const int* fLow, int nLow, int* fNoise) {
    int nQ = 1;
    if (noiseBands > 0) {
        nQ = static_cast<int>(std::lround(noiseBands * std::log(static_cast<double>(fLow[nLow]) / fLow[0]) / std::log(2.0)));
        nQ = std::max(1, nQ);
    }
    if (nQ > 5) return nQ;
    int i = 0;
    fNoise[0] = fLow[0];
    for (int k = 1; k <= nQ; ++k) {
        i += (nLow - i) / (nQ + 1 - k);
        fNoise[k] = fLow[i];
    }
    return nQ;
}

bool SbrBuildFreqTables(const SbrHeader& h, int fs, SbrFreqTables* t) {
    if (fs < 16000 || fs > 96000) return false;
    const int k0 = SbrStartBand(h.startFreq, fs);
    const int k2 = SbrStopBand(h.stopFreq, fs, k0);
    if (k0 <= 0 || k2 <= k0) return false;
    const int maxSpan = fs <= 32000 ? 48 : (fs <= 44100 ? 35 : 32);
    if (k2 - k0 > maxSpan) return false;
    t->k0 = k0;
    t->k2 = k2;
    if (!SbrMasterTable(k0, k2, h.freqScale, h.alterScale, t->fMaster, &t->nMaster)) return false;
    if (h.xoverBand >= t->nMaster) return false;
    t->kx = t->fMaster[h.xoverBand];
    t->m = t->fMaster[t->nMaster] - t->kx;
    // The HF generator reads the 32 analysis bands only.
    if (t->kx > 32 || t->m <= 0 || t->kx + t->m > 64 || t->m > 48) return false;
    const int nHigh = t->nMaster - h.xoverBand;
    const int nLow = (nHigh >> 1) + (nHigh & 1);
    t->n[1] = nHigh;
    t->n[0] = nLow;
    for (int k = 0; k <= nHigh; ++k) t->fHigh[k] = t->fMaster[k + h.xoverBand];
    const int odd = nHigh & 1;
    t->fLow[0] = t->fHigh[0];
    for (int k = 1; k <= nLow; ++k) t->fLow[k] = t->fHigh[2 * k - odd];
    const int nQ = SbrNoiseBandTable(h.noiseBands, t->fLow, nLow, t->fNoise);
    if (nQ > 5) return false;
    t->nQ = nQ;
    for (int k = 1; k <= nQ; ++k)
        if (t->fNoise[k] <= t->fNoise[k - 1]) return false;
    if (!BuildPatches(fs, t)) return false;
    BuildLimiter(h, t);
    return true;
}

}  // namespace aurivane
