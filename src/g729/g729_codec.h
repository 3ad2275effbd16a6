// G.729 Annex A speech codec in double precision: one encoder and one
// decoder state per call direction. EncodeFrame and DecodeFrame allocate
// nothing; instances are independent, so a server may run many.
#ifndef AURIVANE_G729_G729_CODEC_H
#define AURIVANE_G729_G729_CODEC_H

#include <cstdint>

#include "g729/g729_filters.h"
#include "g729/g729_gain.h"
#include "g729/g729_lsp_quantizer.h"
#include "g729/g729_postfilter.h"

namespace aurivane {

inline constexpr int kG729FrameSamples = 80;
inline constexpr int kG729FrameBytes = 10;

class G729EncoderState {
public:
    G729EncoderState();
    void InitEncoder();
    // 80 samples in, one 10-byte frame out.
    void EncodeFrame(const int16_t* pcm, uint8_t* frame);

private:
    void Subframe(int s, const double aq[11], int t0min, int t0max, int* t1, uint16_t* pitch,
                  uint16_t* positions, uint16_t* signs, uint16_t* gains);

    g729::HighPass2 preProc_;
    double speech_[240];
    double wsp_[143 + 80];
    double exc_[154 + 80];
    double wspMem_[10];
    double targetMem_[10];
    double prevLsp_[10];
    double prevLspQ_[10];
    g729::LsfPredictorMemory lsfMem_;
    g729::GainPredictor gainPred_;
    double sharp_;
    double tamingErr_[4];
};

class G729DecoderState {
public:
    G729DecoderState();
    void InitDecoder();
    // One 10-byte frame in (any bit pattern), 80 samples out. A null frame
    // is a lost one (bad frame indicator set) and is concealed.
    void DecodeFrame(const uint8_t* frame, int16_t* pcm);
    // 80 samples for a lost frame, continued from the last frames' history:
    // the last LSPs, the last pitch delay growing by one per subframe, gains
    // attenuated from the last ones and a random fixed-codebook vector.
    void ConcealFrame(int16_t* pcm);

private:
    // Pitch sharpening factor for the next subframe, excitation
    // gp * adaptive + gc * code of subframe s and its synthesis through a.
    void Excite(int s, const double a[11], const double code[40], double gp, double gc);
    // Excitation shift, post-filter and post-processing of a frame whose
    // synthesized speech is in synth_.
    void FinishFrame(const double a[2][11], const int delays[2], int16_t* pcm);
    // The fixed-point reference's 16-bit linear congruential generator.
    int Random();

    double exc_[154 + 80];
    double synMem_[10];
    double synth_[10 + 80];  // ten samples of history, then the frame
    double sharp_;
    int prevT0_;
    double prevLspQ_[10];
    g729::LsfPredictorMemory lsfMem_;
    g729::GainPredictor gainPred_;
    g729::PostFilter postFilter_;
    g729::HighPass2 postProc_;
    // Concealment memory: the MA predictor switch of the last good LSPs, the
    // gains of the last subframe and the generator of the random codebook.
    int prevLspMode_;
    double gainPitch_;
    double gainCode_;
    uint16_t seed_;
};

// Rounds to the nearest integer (halves away from zero) and saturates to
// 16 bits; NaN gives 0.
int16_t G729RoundSample(double v);

}  // namespace aurivane

#endif
