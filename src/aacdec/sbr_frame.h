// Parsed SBR frame data of one channel and the bitstream readers that fill
// it (sbr_grid, sbr_dtdf, sbr_invf, sbr_envelope, sbr_noise,
// sbr_sinusoidal_coding of ISO/IEC 14496-3, 4.4.2.8).
#ifndef AURIVANE_AACDEC_SBR_FRAME_H
#define AURIVANE_AACDEC_SBR_FRAME_H

#include "aacdec/sbr_bit_reader.h"
#include "dsp/sbr_freq_tables.h"
#include "dsp/sbr_grid.h"

namespace aurivane {

struct SbrGrid {
    int frameClass;
    int numEnv;          // L_E, 1..5
    int numNoise;        // L_Q, 1..2
    int tE[6];           // envelope borders in time slots
    int tQ[3];           // noise-floor borders
    int freqRes[5];      // 0 low, 1 high resolution per envelope
    int pointer;         // bs_pointer
    int transientEnv;    // l_A, -1 for none
};

struct SbrFrameData {
    SbrGrid grid;
    int ampRes;  // effective resolution: 0 for FIXFIX with one envelope
    int dfEnv[5];
    int dfNoise[2];
    int invfMode[5];
    int env[5][48];    // start value / deltas as read
    int noise[2][5];
    int addHarmonicFlag;
    int addHarmonic[48];
};

// Reads sbr_grid; returns false for a grid the decoder cannot use (class
// FIXFIX with 8 envelopes, a pointer beyond the envelopes, failed checks).
bool SbrReadGrid(SbrBitReader& br, SbrGrid* grid);
// The consistency checks applied after reading a grid.
bool SbrGridValid(const SbrGrid& grid);

void SbrReadDtdf(SbrBitReader& br, SbrFrameData* f);
void SbrReadInvf(SbrBitReader& br, int nQ, SbrFrameData* f);
// balance: the second channel of a coupled pair.
bool SbrReadEnvelope(SbrBitReader& br, const SbrFreqTables& t, bool balance, SbrFrameData* f);
void SbrReadNoise(SbrBitReader& br, const SbrFreqTables& t, bool balance, SbrFrameData* f);
void SbrReadSinusoidal(SbrBitReader& br, const SbrFreqTables& t, SbrFrameData* f);

}  // namespace aurivane

#endif
