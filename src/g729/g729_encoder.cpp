#include <cstring>

#include "g729/g729_acelp.h"
#include "g729/g729_codec.h"
#include "g729/g729_frame.h"
#include "g729/g729_lpc.h"
#include "g729/g729_pitch.h"
#include "g729/g729_tables.h"

namespace aurivane {

using namespace g729;

namespace {

constexpr int kWspHistory = kPitchMax;
constexpr int kNewSpeech = kWindow - kFrame;   // 160
constexpr int kCoded = kNewSpeech - kSubframe;  // 120, first sample coded by this call

// Taming: the accumulated error of the pitch loop over the delay's zones.
bool TamingActive(const double err[4], int t0, int frac) {
    const int t = frac > 0 ? t0 + 1 : t0;
    int lo = t - (kSubframe + kInterpHalf);
    if (lo < 0) lo = 0;
    const int zoneLo = lo / kSubframe;
    int zoneHi = (t + kInterpHalf - 2) / kSubframe;
    if (zoneHi > 3) zoneHi = 3;
    double m = -1.0;
    for (int i = zoneHi; i >= zoneLo; --i)
        if (err[i] > m) m = err[i];
    return m > kThreshErr;
}

void UpdateTaming(double err[4], double gp, int t0) {
    double worst = -1.0;
    if (t0 < kSubframe) {
        double v = 1.0 + gp * err[0];
        if (v > worst) worst = v;
        v = 1.0 + gp * v;
        if (v > worst) worst = v;
    } else {
        const int zoneLo = (t0 - kSubframe) / kSubframe;
        int zoneHi = (t0 - 1) / kSubframe;
        if (zoneHi > 3) zoneHi = 3;
        for (int i = zoneLo; i <= zoneHi; ++i) {
            const double v = 1.0 + gp * err[i];
            if (v > worst) worst = v;
        }
    }
    for (int i = 3; i > 0; --i) err[i] = err[i - 1];
    err[0] = worst;
}

}  // namespace

G729EncoderState::G729EncoderState() : preProc_(kPreProcB, kPreProcA) {
    gainPred_.Reset();
    InitEncoder();
}

void G729EncoderState::InitEncoder() {
    preProc_.Reset();
    for (double& v : speech_) v = 0.0;
    for (double& v : wsp_) v = 0.0;
    for (double& v : exc_) v = 0.0;
    for (double& v : wspMem_) v = 0.0;
    for (double& v : targetMem_) v = 0.0;
    std::memcpy(prevLsp_, kLspInit, sizeof prevLsp_);
    std::memcpy(prevLspQ_, kLspInit, sizeof prevLspQ_);
    lsfMem_.Reset();
    sharp_ = kSharpMin;
    for (double& v : tamingErr_) v = 1.0;
}

void G729EncoderState::EncodeFrame(const int16_t* pcm, uint8_t* frame) {
    for (int i = 0; i < kFrame; ++i) speech_[kNewSpeech + i] = preProc_.Process(pcm[i]);

    // LP analysis over the whole window, then the LSPs.
    double r[11], a[11], lsp[10];
    WindowedAutocorrelation(speech_, r);
    Levinson(r, a);
    if (!LpcToLsp(a, lsp)) std::memcpy(lsp, prevLsp_, sizeof lsp);

    G729Parameters prm;
    double lspq[10];
    int lsp1 = 0, lsp2 = 0;
    QuantizeLsp(lsp, lsfMem_, lspq, &lsp1, &lsp2);
    prm.lsp1 = static_cast<uint16_t>(lsp1);
    prm.lsp2 = static_cast<uint16_t>(lsp2);

    double lspMid[10], aq[2][11];
    for (int i = 0; i < kOrder; ++i) lspMid[i] = 0.5 * (prevLspQ_[i] + lspq[i]);
    LspToLpc(lspMid, aq[0]);
    LspToLpc(lspq, aq[1]);
    std::memcpy(prevLsp_, lsp, sizeof prevLsp_);
    std::memcpy(prevLspQ_, lspq, sizeof prevLspQ_);

    // LP residual into the excitation buffer, weighted speech for the
    // open-loop search through Aq(z/gamma) with the tilt 1 - 0.7 z^-1.
    double* exc = exc_ + kExcHistory;
    double* wsp = wsp_ + kWspHistory;
    for (int s = 0; s < 2; ++s) {
        Residual(aq[s], speech_ + kCoded + s * kSubframe, exc + s * kSubframe, kSubframe);
        double aw[11], ap[11];
        WeightLpc(aq[s], kGamma, aw);
        ap[0] = 1.0;
        for (int i = 1; i <= kOrder; ++i) ap[i] = aw[i] - kTiltWeight * aw[i - 1];
        Synthesis(ap, exc + s * kSubframe, wsp + s * kSubframe, kSubframe, wspMem_, true);
    }

    const int top = OpenLoopPitch(wsp);
    int t0min = top - 3;
    if (t0min < kPitchMin) t0min = kPitchMin;
    int t0max = t0min + 6;
    if (t0max > kPitchMax) {
        t0max = kPitchMax;
        t0min = kPitchMax - 6;
    }

    int t1 = 0;
    Subframe(0, aq[0], t0min, t0max, &t1, &prm.pitch1, &prm.positions1, &prm.signs1, &prm.gains1);
    prm.parity = static_cast<uint16_t>(G729PitchParity(prm.pitch1));
    const G729PitchWindow w = G729Subframe2Window(t1);
    Subframe(1, aq[1], w.tmin, w.tmax, &t1, &prm.pitch2, &prm.positions2, &prm.signs2, &prm.gains2);

    std::memmove(speech_, speech_ + kFrame, (kWindow - kFrame) * sizeof(double));
    std::memmove(wsp_, wsp_ + kFrame, kWspHistory * sizeof(double));
    std::memmove(exc_, exc_ + kFrame, kExcHistory * sizeof(double));

    PackG729Frame(prm, frame);
}

void G729EncoderState::Subframe(int s, const double aq[11], int t0min, int t0max, int* t1,
                                uint16_t* pitch, uint16_t* positions, uint16_t* signs,
                                uint16_t* gains) {
    constexpr int L = kSubframe;
    double* exc = exc_ + kExcHistory + s * L;
    double aw[11];
    WeightLpc(aq, kGamma, aw);

    double h[L];
    h[0] = 1.0;
    for (int i = 1; i < L; ++i) h[i] = 0.0;
    double zero[10] = {};
    Synthesis(aw, h, h, L, zero, false);

    double xn[L];
    Synthesis(aw, exc, xn, L, targetMem_, false);

    int frac = 0;
    const int t0 = ClosedLoopPitch(exc, xn, h, t0min, t0max, s == 0, &frac);
    G729PitchDelay d{t0, frac};
    if (s == 0) {
        *pitch = static_cast<uint16_t>(EncodeG729PitchDelay1(d));
        *t1 = t0;
    } else {
        *pitch = static_cast<uint16_t>(EncodeG729PitchDelay2(d, *t1));
    }

    double y1[L];
    Convolve(exc, h, y1, L);
    const double yy = Dot(y1, y1, L) + 0.01;
    const double xy = Dot(xn, y1, L);
    double gp = xy / yy;
    if (gp < 0.0) gp = 0.0;
    if (gp > kGainPitchMax) gp = kGainPitchMax;
    const bool taming = TamingActive(tamingErr_, t0, frac);
    if (taming && gp > kGpClip) gp = kGpClip;

    double xn2[L];
    for (int i = 0; i < L; ++i) xn2[i] = xn[i] - gp * y1[i];

    double hs[L];
    for (int i = 0; i < L; ++i) hs[i] = h[i];
    if (t0 < L) SharpenSubframe(hs, t0, sharp_);
    double code[L], y2[L];
    int pos = 0, sgn = 0;
    AcelpSearch(xn2, hs, code, y2, &pos, &sgn);
    if (t0 < L) SharpenSubframe(code, t0, sharp_);
    *positions = static_cast<uint16_t>(pos);
    *signs = static_cast<uint16_t>(sgn);

    GainTerms terms;
    terms.c[0] = yy;
    terms.c[1] = -2.0 * xy + 0.01;
    terms.c[2] = Dot(y2, y2, L) + 0.01;
    terms.c[3] = -2.0 * Dot(xn, y2, L) + 0.01;
    terms.c[4] = 2.0 * Dot(y1, y2, L) + 0.01;
    double gpq, gcq, gamma;
    *gains = static_cast<uint16_t>(QuantizeGains(terms, gainPred_.Predict(code), taming, &gpq, &gcq, &gamma));
    gainPred_.Update(gamma);

    sharp_ = gpq;
    if (sharp_ > kSharpMax) sharp_ = kSharpMax;
    if (sharp_ < kSharpMin) sharp_ = kSharpMin;

    for (int i = 0; i < L; ++i) exc[i] = gpq * exc[i] + gcq * code[i];
    UpdateTaming(tamingErr_, gpq, t0);
    for (int i = L - kOrder; i < L; ++i)
        targetMem_[i - (L - kOrder)] = xn[i] - gpq * y1[i] - gcq * y2[i];
}

}  // namespace aurivane
