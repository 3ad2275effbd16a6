// Parametric stereo decoder (ISO/IEC 14496-3, 8.6.4, baseline: IID and ICC
// only; IPD/OPD extension data are read and discarded): ps_data parsing,
// hybrid analysis, decorrelation with transient attenuation and the mixing
// that turns one QMF channel into two.
#ifndef AURIVANE_AACDEC_PS_DECODER_H
#define AURIVANE_AACDEC_PS_DECODER_H

#include "aacdec/sbr_bit_reader.h"

namespace aurivane {

// Mixing matrix {h11, h12, h21, h22} of one parameter band for an IID in dB
// and an ICC rho (procedure A for icc_mode 0-2, B for 3-5):
// left = h11 s + h21 d, right = h12 s + h22 d.
void PsMixingMatrix(double iidDb, double rho, bool procedureB, float* h);

class PsDecoder {
public:
    void Reset();
    // Reads one ps_data block of at most maxBits bits; returns the number of
    // bits read. Parameters are taken only from a block that parsed cleanly.
    int Parse(SbrBitReader& br, int maxBits);
    // True once a block with a PS header has been taken.
    bool Ready() const { return headerSeen_; }
    // re/im: 32 slots x 64 QMF bands of the mono signal, replaced by the left
    // channel; rRe/rIm receive the right channel. lowRe/lowIm: the 40-slot
    // low-band buffer of the SBR frame (slot l at row l + 2); its 6 slots of
    // look-ahead feed the hybrid filters, so the output is not delayed.
    void Apply(float (*re)[64], float (*im)[64], const float (*lowRe)[32], const float (*lowIm)[32], float (*rRe)[64],
               float (*rIm)[64]);

    // Parsed parameters of the last block, for inspection.
    int NumEnvelopes() const { return numEnv_; }
    int IidBands() const { return iidBands_; }
    int IccBands() const { return iccBands_; }
    int Iid(int e, int b) const { return iid_[e][b]; }
    int Icc(int e, int b) const { return icc_[e][b]; }
    int Border(int e) const { return border_[e]; }
    bool Uses34Bands() const { return use34_; }

private:
    void Configure(bool use34);
    void ComputeMatrix(const int* iid, const int* icc, float (*h)[4]) const;
    void MapToConfig(const int* src, int srcBands, int* dst) const;
    void HybridAnalysis(const float (*lowRe)[32], const float (*lowIm)[32]);
    void LoadMixing(const float (*from)[4], const float (*to)[4]);

    // Header state.
    bool headerSeen_ = false;
    bool enableIid_ = false, enableIcc_ = false, enableExt_ = false;
    int iidMode_ = 0, iccMode_ = 0;
    // Parameters of the current frame.
    int numEnv_ = 0;
    int border_[6] = {};
    int iid_[6][34] = {};
    int icc_[6][34] = {};
    int iidBands_ = 0, iccBands_ = 0;
    bool fineIid_ = false;
    bool mixingB_ = false;
    // Last envelope's indices for time-differential decoding.
    int prevIid_[34] = {};
    int prevIcc_[34] = {};
    int prevIidBands_ = 0, prevIccBands_ = 0;
    bool haveNew_ = false;

    // Processing state.
    bool use34_ = false;
    bool configured_ = false;
    int numHybrid_ = 71;
    int numPar_ = 20;
    float hPrev_[34][4] = {};
    float hybRe_[5][44], hybIm_[5][44];  // split QMF bands, slots -6..37
    float subRe_[32][32], subIm_[32][32];  // their hybrid sub-bands [sub-band][slot]
    // Decorrelator. Every hybrid band advances each slot, so the rings share
    // their positions and each row holds all bands side by side.
    float histRe_[16][91], histIm_[16][91];  // input, newest at histPos_
    int histPos_ = 0;
    float apRe_[3][5][50], apIm_[3][5][50];  // all-pass links: v(n - d) at apPos_
    int apPos_[3] = {};
    float peakDecay_[34], smooth_[34], peakDiff_[34];
    // Mixing within the current envelope: h = mixA_ + frac * mixD_ per band.
    float mixA_[4][91], mixD_[4][91];
};

}  // namespace aurivane

#endif
