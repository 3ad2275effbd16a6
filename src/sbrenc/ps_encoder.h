// Parametric stereo encoder (ISO/IEC 14496-3, 8.6.4, baseline IID and ICC):
// estimates the stereo parameters of two QMF channels in hybrid parameter
// bands, replaces channel 0 with an energy-preserving down-mix and writes the
// frame's ps_data. Keeps the hybrid filter history of both channels, the
// half-frame accumulators and the previous frame's indices for delta coding.
#ifndef AURIVANE_SBRENC_PS_ENCODER_H
#define AURIVANE_SBRENC_PS_ENCODER_H

#include <cstdint>

#include "sbrenc/sbr_encoder_types.h"

namespace aurivane {

class PsEncoder {
public:
    static constexpr int kMaxBands = 20;
    static constexpr int kBitBufferBytes = 270;
    static constexpr int kTenBandMode = 0x20000;  // psMode bit: 10 parameter bands

    // 0 on success, 1 for a negative (unset) psMode. Clears all history: the
    // next frame carries a PS header.
    int Open(int psMode);
    // Estimates parameters from both channels and replaces all 64 bands of
    // ch0's 32 slots with the down-mix. The output lags the input by 6 QMF
    // slots (the hybrid filters' delay), in every band.
    void EncodeFrame(SbrQmfFrame* ch0, const SbrQmfFrame* ch1, bool sbrHeaderSent);
    // This frame's ps_data bits, MSB first, and their count (0: nothing to write).
    const uint8_t* Bits() const { return bits_; }
    int BitCount() const { return bitCount_; }

    // The indices quantised in the last frame, for inspection.
    int NumBands() const { return numBands_; }
    int IidIndex(int band) const { return iidIndex_[band]; }
    int IccIndex(int band) const { return iccIndex_[band]; }

private:
    static constexpr int kHistory = 12;  // slots the 13-tap hybrid filters look back
    static constexpr int kSubBands = 16;  // 8 + 4 + 4 hybrid sub-bands of QMF bands 0..2

    void UpdateAntiPhase(int band, float p0, float p1, float cross);
    void AccumulateAndDownmix(int slot, SbrQmfFrame* ch0);
    void Estimate();
    void Quantise();
    void WriteBits(bool sbrHeaderSent);
    void Put(uint32_t value, int width);

    bool open_ = false;
    bool firstFrame_ = true;
    int numBands_ = 20;
    // Input slots -12..31 of both channels (row r = slot r - 12).
    float xRe_[2][kHistory + kSbrQmfSlots][kSbrQmfBands];
    float xIm_[2][kHistory + kSbrQmfSlots][kSbrQmfBands];
    // Hybrid sub-bands of the slot in work.
    float subRe_[2][kSubBands], subIm_[2][kSubBands];
    // Per 20-band parameter band: power of each channel and cross power.
    float p0_[kMaxBands], p1_[kMaxBands], xr_[kMaxBands], xi_[kMaxBands];
    float iid_[kMaxBands], icc_[kMaxBands];
    // Smoothed powers and cross power per band, and whether the band's
    // channels are in opposite phase: there the down-mix takes L - R, which
    // the decoder spreads back into anti-correlated channels (ICC index 7)
    // instead of a cancelled, silent sum.
    float smP0_[kMaxBands], smP1_[kMaxBands], smX_[kMaxBands];
    bool antiPhase_[kMaxBands];
    int iidIndex_[kMaxBands], iccIndex_[kMaxBands];
    int prevIid_[kMaxBands], prevIcc_[kMaxBands];
    bool prevIidEnable_ = false, prevIccEnable_ = false;
    uint8_t bits_[kBitBufferBytes];
    int bitCount_ = 0;
};

}  // namespace aurivane

#endif
