#include "aacdec/ps_decoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "dsp/ps_hybrid.h"
#include "dsp/ps_tables.h"

namespace aurivane {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kSlots = 32;
constexpr int kLookBack = 6;

constexpr int kAllpassBands = 50;  // all-pass decorrelated hybrid bands, at most

// Per hybrid configuration (10/20 or 34 parameter bands): its layout and the
// decorrelator's per-band constants, built once.
struct PsConfigConstants {
    int numHybrid;   // hybrid bands
    int split;       // hybrid sub-bands of the split QMF bands
    int qmfStart;    // first QMF band passed through unsplit
    int allpassEnd;  // bands below decorrelate through the all-pass links
    int longEnd;     // bands below (from allpassEnd) by a 14-slot delay, above by 1
    const int8_t* kToI;
    // Runs of consecutive hybrid bands in one parameter band: run r covers
    // [runStart[r], runStart[r + 1]) and belongs to runBand[r].
    int numRuns;
    int runStart[92], runBand[91];
    float phiRe[91], phiIm[91];  // fractional-delay rotation
    // Link m: its rotation and its gain a(m) times the band's decay slope.
    float qRe[3][kAllpassBands], qIm[3][kAllpassBands], gain[3][kAllpassBands];

    void Build(bool use34) {
        numHybrid = use34 ? 91 : 71;
        split = use34 ? 32 : 10;
        qmfStart = use34 ? 5 : 3;
        allpassEnd = use34 ? 50 : 30;
        longEnd = use34 ? 62 : 42;
        kToI = use34 ? kPsKToI34 : kPsKToI20;
        numRuns = 0;
        for (int k = 0; k < numHybrid; ++k) {
            if (k == 0 || kToI[k] != kToI[k - 1]) {
                runStart[numRuns] = k;
                runBand[numRuns++] = kToI[k];
            }
        }
        runStart[numRuns] = numHybrid;
        for (int k = 0; k < numHybrid; ++k) {
            const double fc = use34 ? (k < 32 ? kPsFCenter34Times24[k] / 24.0 : k - 26.5)
                                    : (k < 10 ? kPsFCenter20Times8[k] / 8.0 : k - 6.5);
            phiRe[k] = static_cast<float>(std::cos(-kPi * kPsFractionalQPhi * fc));
            phiIm[k] = static_cast<float>(std::sin(-kPi * kPsFractionalQPhi * fc));
            if (k >= allpassEnd) continue;
            const int qmfBand = k < split ? 0 : k - (numHybrid - 64);
            const float slope =
                k < split ? 1.0f : std::max(0.0f, 1.0f - kPsDecaySlope * static_cast<float>(qmfBand - qmfStart));
            for (int m = 0; m < 3; ++m) {
                qRe[m][k] = static_cast<float>(std::cos(-kPi * kPsFractionalQ[m] * fc));
                qIm[m][k] = static_cast<float>(std::sin(-kPi * kPsFractionalQ[m] * fc));
                gain[m][k] = kPsAllpassA[m] * slope;
            }
        }
    }
};

struct PsConstants {
    PsConfigConstants config[2];  // 10/20 bands, 34 bands
    PsConstants() {
        config[0].Build(false);
        config[1].Build(true);
    }
};

const PsConstants& Constants() {
    static const PsConstants c;
    return c;
}

int BandsForMode(int mode) { return mode == 0 ? 10 : (mode == 1 ? 20 : 34); }

// Converts one envelope of indices between band resolutions (for
// time-differential decoding across a mode change).
void Resample(const int* src, int srcBands, int* dst, int dstBands) {
    if (srcBands == dstBands || srcBands == 0) {
        for (int b = 0; b < dstBands; ++b) dst[b] = srcBands ? src[b] : 0;
        return;
    }
    for (int b = 0; b < dstBands; ++b) dst[b] = src[std::min(srcBands - 1, b * srcBands / dstBands)];
}

// Decorrelation and mixing of hybrid bands [k0, k1) in one slot. Left and
// right land at index k - shift of their outputs.
struct MixSlot {
    const float* sRe;
    const float* sIm;
    const float* dRe;  // decorrelated signal, transient gain applied
    const float* dIm;
    const float (*a)[91];  // mixing at the envelope start and its step
    const float (*d)[91];
    float frac;
};

void Mix(const MixSlot& x, int k0, int k1, int shift, float* __restrict lRe, float* __restrict lIm,
         float* __restrict rRe, float* __restrict rIm) {
    const float* __restrict sr = x.sRe;
    const float* __restrict si = x.sIm;
    const float* __restrict dr = x.dRe;
    const float* __restrict di = x.dIm;
    const float f = x.frac;
    for (int k = k0; k < k1; ++k) {
        const float h11 = x.a[0][k] + f * x.d[0][k];
        const float h12 = x.a[1][k] + f * x.d[1][k];
        const float h21 = x.a[2][k] + f * x.d[2][k];
        const float h22 = x.a[3][k] + f * x.d[3][k];
        lRe[k - shift] = h11 * sr[k] + h21 * dr[k];
        lIm[k - shift] = h11 * si[k] + h21 * di[k];
        rRe[k - shift] = h12 * sr[k] + h22 * dr[k];
        rIm[k - shift] = h12 * si[k] + h22 * di[k];
    }
}

}  // namespace

void PsDecoder::Reset() {
    headerSeen_ = false;
    enableIid_ = enableIcc_ = enableExt_ = false;
    iidMode_ = iccMode_ = 0;
    numEnv_ = 0;
    iidBands_ = iccBands_ = 0;
    prevIidBands_ = prevIccBands_ = 0;
    std::memset(prevIid_, 0, sizeof(prevIid_));
    std::memset(prevIcc_, 0, sizeof(prevIcc_));
    haveNew_ = false;
    std::memset(hybRe_, 0, sizeof(hybRe_));
    std::memset(hybIm_, 0, sizeof(hybIm_));
    configured_ = false;
    Configure(false);
}

void PsDecoder::Configure(bool use34) {
    if (configured_ && use34 == use34_) return;
    const bool switching = configured_;
    configured_ = true;
    use34_ = use34;
    numHybrid_ = use34 ? 91 : 71;
    numPar_ = use34 ? 34 : 20;
    // The hybrid bands change meaning: decorrelator and transient detector
    // start afresh.
    std::memset(histRe_, 0, sizeof(histRe_));
    std::memset(histIm_, 0, sizeof(histIm_));
    std::memset(apRe_, 0, sizeof(apRe_));
    std::memset(apIm_, 0, sizeof(apIm_));
    histPos_ = 0;
    for (int& p : apPos_) p = 0;
    std::memset(peakDecay_, 0, sizeof(peakDecay_));
    std::memset(smooth_, 0, sizeof(smooth_));
    std::memset(peakDiff_, 0, sizeof(peakDiff_));
    if (switching) {
        // The mixing still interpolates from the last matrices, carried
        // over to the new parameter bands.
        float old[34][4];
        std::memcpy(old, hPrev_, sizeof(old));
        for (int b = 0; b < numPar_; ++b) {
            const PsMapRow& r = use34 ? kPsMap20To34[b] : kPsMap34To20[b];
            float acc[4] = {}, w = 0.0f;
            for (int j = 0; j < r.count; ++j) {
                for (int q = 0; q < 4; ++q) acc[q] += old[r.source[j]][q] * r.weight[j];
                w += r.weight[j];
            }
            for (int q = 0; q < 4; ++q) hPrev_[b][q] = acc[q] / w;
        }
        return;
    }
    // Identity mixing (IID 0, ICC 1) until parameters arrive.
    for (int i = 0; i < 34; ++i) {
        hPrev_[i][0] = 1.0f;
        hPrev_[i][1] = 1.0f;
        hPrev_[i][2] = 0.0f;
        hPrev_[i][3] = 0.0f;
    }
}

int PsDecoder::Parse(SbrBitReader& br, int maxBits) {
    const int start = br.position;
    bool enableIid = enableIid_, enableIcc = enableIcc_, enableExt = enableExt_;
    int iidMode = iidMode_, iccMode = iccMode_;
    bool header = br.Read(1) != 0;
    bool usable = true;
    if (header) {
        enableIid = br.Read(1) != 0;
        if (enableIid) iidMode = static_cast<int>(br.Read(3));
        enableIcc = br.Read(1) != 0;
        if (enableIcc) iccMode = static_cast<int>(br.Read(3));
        enableExt = br.Read(1) != 0;
    } else if (!headerSeen_) {
        usable = false;
    }
    const int iidBase = iidMode > 2 ? iidMode - 3 : iidMode;
    const int iccBase = iccMode > 2 ? iccMode - 3 : iccMode;
    if ((enableIid && iidBase > 2) || (enableIcc && iccBase > 2)) {
        // Reserved modes: parametric stereo is off for this block.
        br.Skip(maxBits - (br.position - start));
        return br.position - start;
    }
    const int frameClass = static_cast<int>(br.Read(1));
    const int numEnvIdx = static_cast<int>(br.Read(2));
    int numEnv = kPsNumEnv[frameClass][numEnvIdx];
    int border[6] = {};
    if (frameClass) {
        for (int e = 0; e < numEnv; ++e) border[e] = static_cast<int>(br.Read(5)) + 1;
    } else {
        for (int e = 0; e < numEnv; ++e) border[e] = kSlots * (e + 1) / numEnv;
    }
    const int iidBands = enableIid ? BandsForMode(iidBase) : 0;
    const int iccBands = enableIcc ? BandsForMode(iccBase) : 0;
    const bool fine = iidMode > 2;
    const int iidLimit = fine ? 15 : 7;
    int iid[6][34] = {};
    int icc[6][34] = {};
    int refIid[34], refIcc[34];
    Resample(prevIid_, prevIidBands_, refIid, iidBands);
    Resample(prevIcc_, prevIccBands_, refIcc, iccBands);
    for (int e = 0; e < numEnv && usable; ++e) {
        if (enableIid) {
            const bool dt = br.Read(1) != 0;
            const HuffmanBook& book =
                kPsHuffmanBooks[fine ? (dt ? kPsBookIidFineDt : kPsBookIidFineDf) : (dt ? kPsBookIidDt : kPsBookIidDf)];
            for (int b = 0; b < iidBands; ++b) {
                int d = br.Huffman(book);
                int v = dt ? (e ? iid[e - 1][b] : refIid[b]) + d : (b ? iid[e][b - 1] : 0) + d;
                if (v < -iidLimit || v > iidLimit) usable = false;
                iid[e][b] = std::clamp(v, -iidLimit, iidLimit);
            }
        }
    }
    for (int e = 0; e < numEnv && usable; ++e) {
        if (enableIcc) {
            const bool dt = br.Read(1) != 0;
            const HuffmanBook& book = kPsHuffmanBooks[dt ? kPsBookIccDt : kPsBookIccDf];
            for (int b = 0; b < iccBands; ++b) {
                int d = br.Huffman(book);
                int v = dt ? (e ? icc[e - 1][b] : refIcc[b]) + d : (b ? icc[e][b - 1] : 0) + d;
                if (v < 0 || v > 7) usable = false;
                icc[e][b] = std::clamp(v, 0, 7);
            }
        }
    }
    if (usable && enableExt) {
        int cnt = static_cast<int>(br.Read(4));
        if (cnt == 15) cnt += static_cast<int>(br.Read(8));
        br.Skip(8 * cnt);
    }
    int used = br.position - start;
    if (br.overrun || used > maxBits) usable = false;
    if (!usable) return used;

    // Take the block.
    headerSeen_ = true;
    enableIid_ = enableIid;
    enableIcc_ = enableIcc;
    enableExt_ = enableExt;
    iidMode_ = iidMode;
    iccMode_ = iccMode;
    fineIid_ = fine;
    mixingB_ = enableIcc && iccMode > 2;
    iidBands_ = iidBands;
    iccBands_ = iccBands;
    if (numEnv == 0) {
        // No new parameters: the previous ones hold for the whole frame.
        numEnv = 1;
        border[0] = kSlots;
        // The previous values may come from the other (fine or coarse) grid.
        for (int b = 0; b < iidBands; ++b) iid[0][b] = std::clamp(refIid[b], -iidLimit, iidLimit);
        for (int b = 0; b < iccBands; ++b) icc[0][b] = refIcc[b];
    }
    // Borders must rise strictly and end at the frame end.
    for (int e = 0; e < numEnv; ++e) {
        int lo = e ? border[e - 1] + 1 : 1;
        int hi = kSlots - (numEnv - 1 - e);
        border[e] = std::clamp(border[e], lo, hi);
    }
    if (border[numEnv - 1] < kSlots) {
        for (int b = 0; b < 34; ++b) {
            iid[numEnv][b] = iid[numEnv - 1][b];
            icc[numEnv][b] = icc[numEnv - 1][b];
        }
        border[numEnv] = kSlots;
        ++numEnv;
    }
    numEnv_ = numEnv;
    std::memcpy(border_, border, sizeof(border_));
    std::memcpy(iid_, iid, sizeof(iid_));
    std::memcpy(icc_, icc, sizeof(icc_));
    for (int b = 0; b < iidBands; ++b) prevIid_[b] = iid[numEnv - 1][b];
    for (int b = 0; b < iccBands; ++b) prevIcc_[b] = icc[numEnv - 1][b];
    prevIidBands_ = iidBands;
    prevIccBands_ = iccBands;
    haveNew_ = true;
    return used;
}

void PsDecoder::MapToConfig(const int* src, int srcBands, int* dst) const {
    if (srcBands == 0) {
        for (int b = 0; b < numPar_; ++b) dst[b] = 0;
        return;
    }
    int tmp20[20];
    const int* s20 = src;
    if (srcBands == 10) {
        for (int b = 0; b < 20; ++b) tmp20[b] = src[b / 2];
        s20 = tmp20;
        srcBands = 20;
    }
    if (!use34_) {
        if (srcBands == 20) {
            for (int b = 0; b < 20; ++b) dst[b] = s20[b];
        } else {
            for (int b = 0; b < 20; ++b) {
                const PsMapRow& r = kPsMap34To20[b];
                int sum = 0, w = 0;
                for (int j = 0; j < r.count; ++j) {
                    sum += src[r.source[j]] * r.weight[j];
                    w += r.weight[j];
                }
                dst[b] = sum / w;
            }
        }
        return;
    }
    if (srcBands == 34) {
        for (int b = 0; b < 34; ++b) dst[b] = src[b];
        return;
    }
    for (int b = 0; b < 34; ++b) {
        const PsMapRow& r = kPsMap20To34[b];
        int sum = 0, w = 0;
        for (int j = 0; j < r.count; ++j) {
            sum += s20[r.source[j]] * r.weight[j];
            w += r.weight[j];
        }
        dst[b] = sum / w;
    }
}

void PsMixingMatrix(double iidDb, double rho, bool procedureB, float* h) {
    const double c = std::pow(10.0, iidDb / 20.0);
    if (!procedureB) {
        const double c1 = std::sqrt(2.0 / (1.0 + c * c));
        const double c2 = c * c1;
        const double alpha = 0.5 * std::acos(rho);
        const double beta = alpha * (c1 - c2) / std::sqrt(2.0);
        h[0] = static_cast<float>(c2 * std::cos(beta + alpha));
        h[1] = static_cast<float>(c1 * std::cos(beta - alpha));
        h[2] = static_cast<float>(c2 * std::sin(beta + alpha));
        h[3] = static_cast<float>(c1 * std::sin(beta - alpha));
        return;
    }
    // Procedure B rotates onto the eigenvectors of the target covariance;
    // its correlation is floored at 0.05, which keeps the principal axis in
    // the first quadrant (alpha in [0, pi/2]): negative ICC never flips the
    // sign of both channels.
    const double r = std::max(rho, 0.05);
    const double alpha = 0.5 * std::atan2(2.0 * c * r, c * c - 1.0);
    // sqrt(mu) is the eigenvalue spread: lambda = 1 +- sqrt(mu).
    const double cc = c + 1.0 / c;
    const double mu = std::sqrt(std::max(0.0, 1.0 + (4.0 * r * r - 4.0) / (cc * cc)));
    const double gamma = std::atan(std::sqrt((1.0 - mu) / (1.0 + mu)));
    const double s2 = std::sqrt(2.0);
    h[0] = static_cast<float>(s2 * std::cos(alpha) * std::cos(gamma));
    h[1] = static_cast<float>(s2 * std::sin(alpha) * std::cos(gamma));
    h[2] = static_cast<float>(-s2 * std::sin(alpha) * std::sin(gamma));
    h[3] = static_cast<float>(s2 * std::cos(alpha) * std::sin(gamma));
}

void PsDecoder::ComputeMatrix(const int* iid, const int* icc, float (*h)[4]) const {
    for (int b = 0; b < numPar_; ++b) {
        const double db = fineIid_ ? kPsIidFineDb[std::clamp(iid[b], -15, 15) + 15]
                                   : kPsIidDefaultDb[std::clamp(iid[b], -7, 7) + 7];
        PsMixingMatrix(db, kPsIccRho[std::clamp(icc[b], 0, 7)], mixingB_, h[b]);
    }
}

void PsDecoder::HybridAnalysis(const float (*lowRe)[32], const float (*lowIm)[32]) {
    const PsHybridFilters& hf = PsHybridFilterBank();
    // Split bands: slots 0..37 of this frame after the 6 kept from the last.
    for (int m = 0; m < kSlots + 6; ++m)
        for (int b = 0; b < 5; ++b) {
            hybRe_[b][kLookBack + m] = lowRe[m + 2][b];
            hybIm_[b][kLookBack + m] = lowIm[m + 2][b];
        }
    // Centred on each slot (zero delay): output n reads slots n - 6 .. n + 6.
    if (!use34_) {
        float tr[8][kSlots], ti[8][kSlots];
        for (int q = 0; q < 8; ++q) PsHybridFilterSlots(hf.h8_20[q], hybRe_[0], hybIm_[0], kSlots, tr[q], ti[q]);
        const int order[4] = {6, 7, 0, 1};
        for (int k = 0; k < 4; ++k) {
            std::memcpy(subRe_[k], tr[order[k]], sizeof(subRe_[k]));
            std::memcpy(subIm_[k], ti[order[k]], sizeof(subIm_[k]));
        }
        for (int n = 0; n < kSlots; ++n) {
            subRe_[4][n] = tr[2][n] + tr[5][n];
            subIm_[4][n] = ti[2][n] + ti[5][n];
            subRe_[5][n] = tr[3][n] + tr[4][n];
            subIm_[5][n] = ti[3][n] + ti[4][n];
        }
        // Real two-band split of QMF bands 1 and 2; in the odd band the
        // high half of the subband spectrum is the lower frequency.
        for (int b = 1; b <= 2; ++b) {
            const int low = b == 1 ? 7 : 8, high = b == 1 ? 6 : 9;
            float* lr = subRe_[low];
            float* li = subIm_[low];
            float* hr = subRe_[high];
            float* hi = subIm_[high];
            for (int n = 0; n < kSlots; ++n) lr[n] = li[n] = hr[n] = hi[n] = 0.0f;
            for (int j = 0; j < kPsHybridTaps; ++j) {
                const float g = kPsHybridG2_20[j];
                const float gs = ((j - 6) & 1) ? -g : g;
                const float* xr = hybRe_[b] + 2 * kPsHybridDelay - j;
                const float* xi = hybIm_[b] + 2 * kPsHybridDelay - j;
                for (int n = 0; n < kSlots; ++n) {
                    lr[n] += g * xr[n];
                    li[n] += g * xi[n];
                    hr[n] += gs * xr[n];
                    hi[n] += gs * xi[n];
                }
            }
        }
    } else {
        for (int q = 0; q < 12; ++q)
            PsHybridFilterSlots(hf.h12_34[q], hybRe_[0], hybIm_[0], kSlots, subRe_[q], subIm_[q]);
        for (int q = 0; q < 8; ++q)
            PsHybridFilterSlots(hf.h8_34[q], hybRe_[1], hybIm_[1], kSlots, subRe_[12 + q], subIm_[12 + q]);
        for (int b = 2; b <= 4; ++b)
            for (int q = 0; q < 4; ++q) {
                const int k = 20 + 4 * (b - 2) + q;
                PsHybridFilterSlots(hf.h4_34[q], hybRe_[b], hybIm_[b], kSlots, subRe_[k], subIm_[k]);
            }
    }
    for (int b = 0; b < 5; ++b) {
        std::memmove(hybRe_[b], hybRe_[b] + kSlots, sizeof(float) * kLookBack);
        std::memmove(hybIm_[b], hybIm_[b] + kSlots, sizeof(float) * kLookBack);
    }
}

void PsDecoder::LoadMixing(const float (*from)[4], const float (*to)[4]) {
    const int8_t* kToI = Constants().config[use34_ ? 1 : 0].kToI;
    for (int k = 0; k < numHybrid_; ++k) {
        const float* a = from[kToI[k]];
        const float* b = to[kToI[k]];
        for (int q = 0; q < 4; ++q) {
            mixA_[q][k] = a[q];
            mixD_[q][k] = b[q] - a[q];
        }
    }
}

void PsDecoder::Apply(float (*re)[64], float (*im)[64], const float (*lowRe)[32], const float (*lowIm)[32],
                      float (*rRe)[64], float (*rIm)[64]) {
    // The hybrid configuration follows the parameter resolution; with IID
    // and ICC both off there is none, and the filterbank stays as it is
    // rather than restarting its decorrelator for an identity mix.
    const bool want34 = enableIid_ || enableIcc_ ? (enableIid_ && iidBands_ == 34) || (enableIcc_ && iccBands_ == 34)
                                                 : use34_;
    Configure(want34);
    const PsConfigConstants& cc = Constants().config[use34_ ? 1 : 0];

    // Matrices per envelope at the configuration's parameter resolution.
    float hEnv[6][34][4];
    int numEnv = haveNew_ ? numEnv_ : 1;
    int border[6] = {};
    if (haveNew_) {
        for (int e = 0; e < numEnv; ++e) {
            int iidMapped[34], iccMapped[34];
            MapToConfig(iid_[e], iidBands_, iidMapped);
            MapToConfig(icc_[e], iccBands_, iccMapped);
            ComputeMatrix(iidMapped, iccMapped, hEnv[e]);
            border[e] = border_[e];
        }
    } else {
        std::memcpy(hEnv[0], hPrev_, sizeof(hPrev_));
        border[0] = kSlots;
    }
    haveNew_ = false;

    HybridAnalysis(lowRe, lowIm);

    const int numHybrid = cc.numHybrid, split = cc.split, ap = cc.allpassEnd;
    const int shift = numHybrid - 64;  // hybrid band of an unsplit QMF band b: b + shift
    int env = 0;
    int envStart = 0;
    LoadMixing(hPrev_, hEnv[0]);
    for (int n = 0; n < kSlots; ++n) {
        bool next = false;
        while (env < numEnv - 1 && n >= border[env]) {
            envStart = border[env];
            std::memcpy(hPrev_, hEnv[env], sizeof(hPrev_));
            ++env;
            next = true;
        }
        if (next) LoadMixing(hPrev_, hEnv[env]);
        const float frac = static_cast<float>(n + 1 - envStart) / static_cast<float>(border[env] - envStart);

        histPos_ = (histPos_ + 1) & 15;
        float* sr = histRe_[histPos_];
        float* si = histIm_[histPos_];
        for (int k = 0; k < split; ++k) {
            sr[k] = subRe_[k][n];
            si[k] = subIm_[k][n];
        }
        std::memcpy(sr + split, re[n] + cc.qmfStart, sizeof(float) * (64 - cc.qmfStart));
        std::memcpy(si + split, im[n] + cc.qmfStart, sizeof(float) * (64 - cc.qmfStart));

        // Transient attenuation from the power per parameter band.
        float bandPower[91];
        for (int k = 0; k < numHybrid; ++k) bandPower[k] = sr[k] * sr[k] + si[k] * si[k];
        // Summed in band order, a run at a time in a register.
        float power[34] = {};
        for (int r = 0; r < cc.numRuns; ++r) {
            float acc = power[cc.runBand[r]];
            for (int k = cc.runStart[r]; k < cc.runStart[r + 1]; ++k) acc += bandPower[k];
            power[cc.runBand[r]] = acc;
        }
        float transGain[34];
        for (int i = 0; i < numPar_; ++i) {
            peakDecay_[i] = std::max(peakDecay_[i] * kPsPeakDecayAlpha, power[i]);
            smooth_[i] += kPsEnergySmoothingAlpha * (power[i] - smooth_[i]);
            peakDiff_[i] += kPsEnergySmoothingAlpha * (peakDecay_[i] - power[i] - peakDiff_[i]);
            // smooth / p where p exceeds smooth, else 1 (1/1): no division
            // on the other branch, so the loop vectorises.
            const float p = kPsTransientGamma * peakDiff_[i];
            const bool attenuate = p > smooth_[i];
            transGain[i] = (attenuate ? smooth_[i] : 1.0f) / (attenuate ? p : 1.0f);
        }

        // Decorrelated signal: the low bands through three fractional-delay
        // all-pass links after 2 slots, the rest delayed by 14 or 1 slots.
        float dRe[91], dIm[91];
        std::memcpy(dRe, histRe_[(histPos_ - 2) & 15], sizeof(float) * ap);
        std::memcpy(dIm, histIm_[(histPos_ - 2) & 15], sizeof(float) * ap);
        for (int m = 0; m < 3; ++m) {
            float* __restrict vr = apRe_[m][apPos_[m]];
            float* __restrict vi = apIm_[m][apPos_[m]];
            const float* qr = cc.qRe[m];
            const float* qi = cc.qIm[m];
            const float* g = cc.gain[m];
            for (int k = 0; k < ap; ++k) {
                const float qvr = qr[k] * vr[k] - qi[k] * vi[k], qvi = qr[k] * vi[k] + qi[k] * vr[k];
                const float nr = dRe[k] + g[k] * qvr, ni = dIm[k] + g[k] * qvi;
                vr[k] = nr;
                vi[k] = ni;
                dRe[k] = qvr - g[k] * nr;
                dIm[k] = qvi - g[k] * ni;
            }
            apPos_[m] = apPos_[m] + 1 == kPsAllpassDelay[m] ? 0 : apPos_[m] + 1;
        }
        for (int k = 0; k < ap; ++k) {
            const float xr = dRe[k], xi = dIm[k];
            dRe[k] = cc.phiRe[k] * xr - cc.phiIm[k] * xi;
            dIm[k] = cc.phiRe[k] * xi + cc.phiIm[k] * xr;
        }
        const int longEnd = cc.longEnd;
        std::memcpy(dRe + ap, histRe_[(histPos_ - 14) & 15] + ap, sizeof(float) * (longEnd - ap));
        std::memcpy(dIm + ap, histIm_[(histPos_ - 14) & 15] + ap, sizeof(float) * (longEnd - ap));
        std::memcpy(dRe + longEnd, histRe_[(histPos_ - 1) & 15] + longEnd, sizeof(float) * (numHybrid - longEnd));
        std::memcpy(dIm + longEnd, histIm_[(histPos_ - 1) & 15] + longEnd, sizeof(float) * (numHybrid - longEnd));
        for (int r = 0; r < cc.numRuns; ++r) {
            const float g = transGain[cc.runBand[r]];
            for (int k = cc.runStart[r]; k < cc.runStart[r + 1]; ++k) {
                dRe[k] *= g;
                dIm[k] *= g;
            }
        }

        const MixSlot slot = {sr, si, dRe, dIm, mixA_, mixD_, frac};
        // Unsplit QMF bands straight into place; the sub-bands of a split
        // band add up again (hybrid synthesis).
        Mix(slot, split, numHybrid, shift, re[n], im[n], rRe[n], rIm[n]);
        float lr[32], li[32], rr[32], ri[32];
        Mix(slot, 0, split, 0, lr, li, rr, ri);
        static const int8_t kQmf20[10] = {0, 0, 0, 0, 0, 0, 1, 1, 2, 2};
        static const int8_t kQmf34[32] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1,
                                          1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4};
        const int8_t* toQmf = use34_ ? kQmf34 : kQmf20;
        for (int b = 0; b < cc.qmfStart; ++b) re[n][b] = im[n][b] = rRe[n][b] = rIm[n][b] = 0.0f;
        for (int k = 0; k < split; ++k) {
            const int b = toQmf[k];
            re[n][b] += lr[k];
            im[n][b] += li[k];
            rRe[n][b] += rr[k];
            rIm[n][b] += ri[k];
        }
    }
    std::memcpy(hPrev_, hEnv[numEnv - 1], sizeof(hPrev_));
}

}  // namespace aurivane
