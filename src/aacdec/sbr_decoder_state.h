// Internal state of SbrDecoder, shared by its implementation files and the
// unit tests.
#ifndef AURIVANE_AACDEC_SBR_DECODER_STATE_H
#define AURIVANE_AACDEC_SBR_DECODER_STATE_H

#include "aacdec/ps_decoder.h"
#include "aacdec/qmf_bank.h"
#include "aacdec/sbr_decoder.h"
#include "aacdec/sbr_frame.h"
#include "aacdec/sbr_hf.h"

namespace aurivane {

enum SbrHeaderState { kSbrNoHeader = 0, kSbrDefaultHeaderState = 1, kSbrReceivedHeader = 2 };
enum SbrChannelMode { kSbrMono = 1, kSbrStereo = 2, kSbrMonoPs = 3 };

struct SbrChannel {
    QmfAnalysis32 analysis;
    QmfSynthesis64 synthesis;
    SbrLowBands low;
    SbrSubbands high;
    SbrFrameData data;  // parsed this frame
    bool dataValid;     // data holds this frame's parse
    // Delta-decoding history.
    int env[5][48];
    int noise[2][5];
    int prevEnv[48];
    int prevEnvRes;
    int prevNoise[5];
    // Dequantised data of this frame and the last envelope kept for
    // concealment.
    float envOrig[5][48];
    float noiseOrig[2][5];
    float lastEnvOrig[48];
    float lastNoiseOrig[5];
    int lastEnvRes;
    bool haveLast;
    int invfPrev[5];
    float bwPrev[5];
    int addHarmonicPrev[48];
    int prevEndSlot;
    bool prevTransientAtEnd;
    int kxPrev;
    int mPrev;
    SbrAdjusterState adjuster;
};

struct SbrDecoder {

    int coreRate;
    int outRate;
    int frameSize;
    int headerState;
    int channelMode;
    bool headerError;
    SbrHeader header;
    SbrFreqTables tables;
    bool tablesValid;
    bool coupling;
    bool psActive;  // parametric stereo seen since the last reset
    bool lowPower;  // real-valued QMF for stereo (kSbrOptionLowPower)
    // The core delivers each frame one call late, so the payloads of a call
    // belong to the audio of the next one.
    SbrPayloadList pending;
    bool primed;
    SbrChannel ch[2];
    PsDecoder ps;
    // Second channel made by parametric stereo.
    float rRe[32][64], rIm[32][64];
};

}  // namespace aurivane

#endif
