// SBR QMF banks (ISO/IEC 14496-3, 4.6.18.4): 32-band analysis of the core
// signal and 64-band synthesis at twice the rate, complex-valued or, for the
// low-power path, real-valued. Modulations run through the shared FFT.
#ifndef AURIVANE_AACDEC_QMF_BANK_H
#define AURIVANE_AACDEC_QMF_BANK_H

namespace aurivane {

class QmfAnalysis32 {
public:
    void Reset();
    // Consumes 32 input samples and produces 32 subband samples. im may be
    // null for the real-valued bank.
    void Process(const float* input, float* re, float* im);

private:
    // The 320-sample window slides down a longer buffer, newest sample
    // first at pos_; it is copied back to the top once per kRingSlots slots
    // instead of shifting every slot.
    static constexpr int kRingSlots = 16;
    float x_[320 + 32 * kRingSlots];
    int pos_;
};

class QmfSynthesis64 {
public:
    void Reset();
    // Consumes 64 subband samples (im null: real-valued) and produces 64
    // output samples.
    void Process(const float* re, const float* im, float* output);

private:
    // As in the analysis: the 1280-value V window at v_ + pos_.
    static constexpr int kRingSlots = 16;
    float v_[1280 + 128 * kRingSlots];
    int pos_;
};

}  // namespace aurivane

#endif
