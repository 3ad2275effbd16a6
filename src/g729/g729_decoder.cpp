#include <cmath>
#include <cstring>

#include "g729/g729_acelp.h"
#include "g729/g729_codec.h"
#include "g729/g729_frame.h"
#include "g729/g729_lpc.h"
#include "g729/g729_lsp_quantizer.h"
#include "g729/g729_pitch.h"
#include "g729/g729_tables.h"

namespace aurivane {

using namespace g729;

namespace {

// Initial state of the random codebook generator of the reference decoder.
constexpr uint16_t kErasureSeed = 21845;

}  // namespace

int16_t G729RoundSample(double v) {
    if (!(v == v)) return 0;
    // Branch-free: the sign of a speech sample is what a branch predictor
    // cannot guess. v - 0.5 and v + (-0.5) round alike.
    v += std::copysign(0.5, v);
    v = v > 32767.0 ? 32767.0 : v;
    v = v < -32768.0 ? -32768.0 : v;
    return static_cast<int16_t>(v);
}

G729DecoderState::G729DecoderState() : postProc_(kPostProcB, kPostProcA) {
    std::memcpy(prevLspQ_, kLspInit, sizeof prevLspQ_);
    gainPred_.Reset();
    postFilter_.ResetAll();
    InitDecoder();
}

void G729DecoderState::InitDecoder() {
    for (double& v : exc_) v = 0.0;
    for (double& v : synMem_) v = 0.0;
    for (double& v : synth_) v = 0.0;
    sharp_ = kSharpMin;
    prevT0_ = 60;
    lsfMem_.Reset();
    postFilter_.Reset();
    postProc_.Reset();
    prevLspMode_ = 0;
    gainPitch_ = 0.0;
    gainCode_ = 0.0;
    seed_ = kErasureSeed;
}

int G729DecoderState::Random() {
    seed_ = static_cast<uint16_t>(seed_ * 31821u + 13849u);
    return seed_;
}

void G729DecoderState::DecodeFrame(const uint8_t* frame, int16_t* pcm) {
    if (frame == nullptr) {
        ConcealFrame(pcm);
        return;
    }
    const G729Parameters p = UnpackG729Frame(frame);
    const bool parityError = ((G729PitchParity(p.pitch1) + p.parity) & 1) != 0;

    double lspq[10], lspMid[10];
    DecodeLsp(p.lsp1, p.lsp2, lsfMem_, lspq);
    prevLspMode_ = (p.lsp1 >> 7) & 1;
    for (int i = 0; i < kOrder; ++i) lspMid[i] = 0.5 * (prevLspQ_[i] + lspq[i]);
    double a[2][11];
    LspToLpc(lspMid, a[0]);
    LspToLpc(lspq, a[1]);
    std::memcpy(prevLspQ_, lspq, sizeof prevLspQ_);

    int delays[2];
    int t1 = 0;
    for (int s = 0; s < 2; ++s) {
        double* e = exc_ + kExcHistory + s * kSubframe;
        G729PitchDelay d;
        if (s == 0) {
            if (parityError) {
                d.integer = prevT0_;
                d.fraction = 0;
            } else {
                d = DecodeG729PitchDelay1(p.pitch1);
            }
            t1 = d.integer;
        } else {
            d = DecodeG729PitchDelay2(p.pitch2, t1);
            prevT0_ = d.integer;
        }
        delays[s] = d.integer;
        AdaptiveVector(e, d.integer, d.fraction, kSubframe);

        double code[kSubframe];
        AcelpDecode(s == 0 ? p.positions1 : p.positions2, s == 0 ? p.signs1 : p.signs2, code);
        if (d.integer < kSubframe) SharpenSubframe(code, d.integer, sharp_);

        double gp, gc, gamma;
        DecodeGains(s == 0 ? p.gains1 : p.gains2, gainPred_.Predict(code), &gp, &gc, &gamma);
        gainPred_.Update(gamma);
        gainPitch_ = gp;
        gainCode_ = gc;
        Excite(s, a[s], code, gp, gc);
    }
    FinishFrame(a, delays, pcm);
}

void G729DecoderState::ConcealFrame(int16_t* pcm) {
    // The last good LSPs again. The MA predictor memory receives the
    // residual that, under the last predictor switch, reproduces them, so
    // that the first good frame after the loss is predicted from a history
    // consistent with what was played.
    double lsf[10], residual[10];
    LspToLsf(prevLspQ_, lsf);
    for (int j = 0; j < kOrder; ++j) {
        double v = lsf[j];
        for (int k = 0; k < kMaOrder; ++k) v -= kLspMaPred[prevLspMode_][k][j] * lsfMem_.past[k][j];
        residual[j] = v * kLspMaPredSumInv[prevLspMode_][j];
    }
    for (int k = kMaOrder - 1; k > 0; --k) std::memcpy(lsfMem_.past[k], lsfMem_.past[k - 1], sizeof lsfMem_.past[k]);
    std::memcpy(lsfMem_.past[0], residual, sizeof residual);
    double a[2][11];
    LspToLpc(prevLspQ_, a[0]);
    std::memcpy(a[1], a[0], sizeof a[0]);

    int delays[2];
    for (int s = 0; s < 2; ++s) {
        double* e = exc_ + kExcHistory + s * kSubframe;
        // The last integer delay, one sample longer for every lost subframe
        // so that a long loss does not ring at one fixed period.
        const int t0 = prevT0_;
        if (prevT0_ < kPitchMax) ++prevT0_;
        delays[s] = t0;
        AdaptiveVector(e, t0, 0, kSubframe);

        double code[kSubframe];
        const int positions = Random() & 0x1FFF;
        const int signs = Random() & 0xF;
        AcelpDecode(positions, signs, code);
        if (t0 < kSubframe) SharpenSubframe(code, t0, sharp_);

        AttenuateGains(&gainPitch_, &gainCode_);
        gainPred_.UpdateErased();
        Excite(s, a[s], code, gainPitch_, gainCode_);
    }
    FinishFrame(a, delays, pcm);
}

void G729DecoderState::Excite(int s, const double a[11], const double code[40], double gp, double gc) {
    sharp_ = gp;
    if (sharp_ > kSharpMax) sharp_ = kSharpMax;
    if (sharp_ < kSharpMin) sharp_ = kSharpMin;

    double* e = exc_ + kExcHistory + s * kSubframe;
    for (int i = 0; i < kSubframe; ++i) {
        // The fixed-point reference saturates its 16-bit excitation; the
        // same bound keeps hostile gain sequences from growing without
        // limit.
        double v = gp * e[i] + gc * code[i];
        if (v > 32767.0) v = 32767.0;
        if (v < -32768.0) v = -32768.0;
        e[i] = v;
    }
    Synthesis(a, e, synth_ + kOrder + s * kSubframe, kSubframe, synMem_, true);
}

void G729DecoderState::FinishFrame(const double a[2][11], const int delays[2], int16_t* pcm) {
    std::memmove(exc_, exc_ + kFrame, kExcHistory * sizeof(double));

    const double* syn = synth_ + kOrder;
    double post[kFrame];
    for (int s = 0; s < 2; ++s)
        postFilter_.Process(syn + s * kSubframe, a[s], delays[s], post + s * kSubframe);
    std::memmove(synth_, synth_ + kFrame, kOrder * sizeof(double));

    for (int i = 0; i < kFrame; ++i) pcm[i] = G729RoundSample(postProc_.Process(post[i]));
}

}  // namespace aurivane
