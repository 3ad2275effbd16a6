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

// The decorrelator's fractional-delay rotations, built once.
struct PsConstants {
    float phi20[71][2], q20[71][3][2];
    float phi34[91][2], q34[91][3][2];

    static void Rotations(int k, double fc, float (*phi)[2], float (*qf)[3][2]) {
        phi[k][0] = static_cast<float>(std::cos(-kPi * kPsFractionalQPhi * fc));
        phi[k][1] = static_cast<float>(std::sin(-kPi * kPsFractionalQPhi * fc));
        for (int m = 0; m < 3; ++m) {
            qf[k][m][0] = static_cast<float>(std::cos(-kPi * kPsFractionalQ[m] * fc));
            qf[k][m][1] = static_cast<float>(std::sin(-kPi * kPsFractionalQ[m] * fc));
        }
    }
    PsConstants() {
        for (int k = 0; k < 71; ++k) Rotations(k, k < 10 ? kPsFCenter20Times8[k] / 8.0 : k - 6.5, phi20, q20);
        for (int k = 0; k < 91; ++k) Rotations(k, k < 32 ? kPsFCenter34Times24[k] / 24.0 : k - 26.5, phi34, q34);
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

// Complex filter output sum_j h(j) x(n + 6 - j); row holds x(n + 6).
inline void Filter(const float (*h)[2], const float (*re)[5], const float (*im)[5], int row, int band, float* outRe,
                   float* outIm) {
    PsHybridFilter(h, &re[row][band], &im[row][band], 5, outRe, outIm);
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
    std::memset(bands_, 0, sizeof(bands_));
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

void PsDecoder::Apply(float (*re)[64], float (*im)[64], const float (*lowRe)[32], const float (*lowIm)[32],
                      float (*rRe)[64], float (*rIm)[64]) {
    const PsConstants& pc = Constants();
    const PsHybridFilters& hf = PsHybridFilterBank();
    // The hybrid configuration follows the parameter resolution; with IID
    // and ICC both off there is none, and the filterbank stays as it is
    // rather than restarting its decorrelator for an identity mix.
    const bool want34 = enableIid_ || enableIcc_ ? (enableIid_ && iidBands_ == 34) || (enableIcc_ && iccBands_ == 34)
                                                 : use34_;
    Configure(want34);

    // Matrices per envelope at the configuration's parameter resolution.
    float hEnv[6][34][4];
    int numEnv = haveNew_ ? numEnv_ : 1;
    int border[6];
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

    // Split bands: slots 0..37 of this frame after the 6 kept from the last.
    for (int m = 0; m < kSlots + 6; ++m)
        for (int b = 0; b < 5; ++b) {
            hybRe_[kLookBack + m][b] = lowRe[m + 2][b];
            hybIm_[kLookBack + m][b] = lowIm[m + 2][b];
        }
    // Hybrid analysis, centred on each slot (zero delay).
    for (int n = 0; n < kSlots; ++n) {
        const int row = n + 12;
        float* sr = sRe_[n];
        float* si = sIm_[n];
        int qmfStart;
        if (!use34_) {
            float tr[8], ti[8];
            for (int q = 0; q < 8; ++q) Filter(hf.h8_20[q], hybRe_, hybIm_, row, 0, &tr[q], &ti[q]);
            const int order[4] = {6, 7, 0, 1};
            for (int k = 0; k < 4; ++k) {
                sr[k] = tr[order[k]];
                si[k] = ti[order[k]];
            }
            sr[4] = tr[2] + tr[5];
            si[4] = ti[2] + ti[5];
            sr[5] = tr[3] + tr[4];
            si[5] = ti[3] + ti[4];
            // Real two-band split of QMF bands 1 and 2; in the odd band the
            // high half of the subband spectrum is the lower frequency.
            for (int b = 1; b <= 2; ++b) {
                float lr = 0, li = 0, hr = 0, hi = 0;
                for (int j = 0; j < 13; ++j) {
                    const float g = kPsHybridG2_20[j];
                    const float xr = hybRe_[row - j][b], xi = hybIm_[row - j][b];
                    lr += g * xr;
                    li += g * xi;
                    const float gs = ((j - 6) & 1) ? -g : g;
                    hr += gs * xr;
                    hi += gs * xi;
                }
                const int k = 6 + 2 * (b - 1);
                if (b == 1) {
                    sr[k] = hr, si[k] = hi, sr[k + 1] = lr, si[k + 1] = li;
                } else {
                    sr[k] = lr, si[k] = li, sr[k + 1] = hr, si[k + 1] = hi;
                }
            }
            qmfStart = 3;
        } else {
            for (int q = 0; q < 12; ++q) Filter(hf.h12_34[q], hybRe_, hybIm_, row, 0, &sr[q], &si[q]);
            for (int q = 0; q < 8; ++q) Filter(hf.h8_34[q], hybRe_, hybIm_, row, 1, &sr[12 + q], &si[12 + q]);
            for (int b = 2; b <= 4; ++b)
                for (int q = 0; q < 4; ++q)
                    Filter(hf.h4_34[q], hybRe_, hybIm_, row, b, &sr[20 + 4 * (b - 2) + q], &si[20 + 4 * (b - 2) + q]);
            qmfStart = 5;
        }
        const int offset = numHybrid_ - 64;
        for (int b = qmfStart; b < 64; ++b) {
            sr[b + offset] = re[n][b];
            si[b + offset] = im[n][b];
        }
    }
    std::memmove(hybRe_[0], hybRe_[kSlots], sizeof(float) * 5 * kLookBack);
    std::memmove(hybIm_[0], hybIm_[kSlots], sizeof(float) * 5 * kLookBack);

    const int8_t* kToI = use34_ ? kPsKToI34 : kPsKToI20;
    const int allpassEnd = use34_ ? 50 : 30;
    const int longEnd = use34_ ? 62 : 42;
    const int cutoff = use34_ ? 32 : 10;
    const float (*phi)[2] = use34_ ? pc.phi34 : pc.phi20;
    const float (*qf)[3][2] = use34_ ? pc.q34 : pc.q20;
    const int qmfSplit = use34_ ? 5 : 3;

    int env = 0;
    int envStart = 0;
    for (int n = 0; n < kSlots; ++n) {
        while (env < numEnv - 1 && n >= border[env]) {
            envStart = border[env];
            std::memcpy(hPrev_, hEnv[env], sizeof(hPrev_));
            ++env;
        }
        const float frac = static_cast<float>(n + 1 - envStart) / static_cast<float>(border[env] - envStart);
        float* sr = sRe_[n];
        float* si = sIm_[n];
        // Transient attenuation from the power per parameter band.
        float power[34] = {};
        for (int k = 0; k < numHybrid_; ++k) power[kToI[k]] += sr[k] * sr[k] + si[k] * si[k];
        float transGain[34];
        for (int i = 0; i < numPar_; ++i) {
            peakDecay_[i] = std::max(peakDecay_[i] * kPsPeakDecayAlpha, power[i]);
            smooth_[i] += kPsEnergySmoothingAlpha * (power[i] - smooth_[i]);
            peakDiff_[i] += kPsEnergySmoothingAlpha * (peakDecay_[i] - power[i] - peakDiff_[i]);
            const float p = kPsTransientGamma * peakDiff_[i];
            transGain[i] = p <= smooth_[i] ? 1.0f : smooth_[i] / p;
        }
        float lRe[91], lIm[91];
        for (int k = 0; k < numHybrid_; ++k) {
            Band& bd = bands_[k];
            bd.hPos = (bd.hPos + 1) & 15;
            bd.hRe[bd.hPos] = sr[k];
            bd.hIm[bd.hPos] = si[k];
            float dr, di;
            if (k < allpassEnd) {
                const int p2 = (bd.hPos - 2) & 15;
                float xr = bd.hRe[p2], xi = bd.hIm[p2];
                const int qmfBand = k < (use34_ ? 32 : 10) ? 0 : k - (numHybrid_ - 64);
                const float slope =
                    k < cutoff ? 1.0f : std::max(0.0f, 1.0f - kPsDecaySlope * static_cast<float>(qmfBand - qmfSplit));
                for (int m = 0; m < 3; ++m) {
                    const int d = kPsAllpassDelay[m];
                    const int pos = bd.vPos[m];
                    const float vdr = bd.vRe[m][pos], vdi = bd.vIm[m][pos];  // v(n - d)
                    const float qr = qf[k][m][0], qi = qf[k][m][1];
                    const float ag = kPsAllpassA[m] * slope;
                    const float qvr = qr * vdr - qi * vdi, qvi = qr * vdi + qi * vdr;
                    const float vr = xr + ag * qvr, vi = xi + ag * qvi;
                    bd.vRe[m][pos] = vr;
                    bd.vIm[m][pos] = vi;
                    bd.vPos[m] = (pos + 1) % d;
                    xr = qvr - ag * vr;
                    xi = qvi - ag * vi;
                }
                dr = phi[k][0] * xr - phi[k][1] * xi;
                di = phi[k][0] * xi + phi[k][1] * xr;
            } else {
                const int p = (bd.hPos - (k < longEnd ? 14 : 1)) & 15;
                dr = bd.hRe[p];
                di = bd.hIm[p];
            }
            const int i = kToI[k];
            dr *= transGain[i];
            di *= transGain[i];
            const float* a = hPrev_[i];
            const float* b = hEnv[env][i];
            const float h11 = a[0] + frac * (b[0] - a[0]);
            const float h12 = a[1] + frac * (b[1] - a[1]);
            const float h21 = a[2] + frac * (b[2] - a[2]);
            const float h22 = a[3] + frac * (b[3] - a[3]);
            lRe[k] = h11 * sr[k] + h21 * dr;
            lIm[k] = h11 * si[k] + h21 * di;
            sr[k] = h12 * sr[k] + h22 * dr;  // right channel, in place
            si[k] = h12 * si[k] + h22 * di;
        }
        // Hybrid synthesis: sub-bands of a split QMF band add up again.
        float* oRe = re[n];
        float* oIm = im[n];
        float* pRe = rRe[n];
        float* pIm = rIm[n];
        std::memset(oRe, 0, 64 * sizeof(float));
        std::memset(oIm, 0, 64 * sizeof(float));
        std::memset(pRe, 0, 64 * sizeof(float));
        std::memset(pIm, 0, 64 * sizeof(float));
        static const int8_t kQmf20[10] = {0, 0, 0, 0, 0, 0, 1, 1, 2, 2};
        static const int8_t kQmf34[32] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1,
                                          1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4};
        const int hybridSplit = use34_ ? 32 : 10;
        for (int k = 0; k < numHybrid_; ++k) {
            const int b = k < hybridSplit ? (use34_ ? kQmf34[k] : kQmf20[k]) : k - (numHybrid_ - 64);
            oRe[b] += lRe[k];
            oIm[b] += lIm[k];
            pRe[b] += sr[k];
            pIm[b] += si[k];
        }
    }
    std::memcpy(hPrev_, hEnv[numEnv - 1], sizeof(hPrev_));
}

}  // namespace aurivane
