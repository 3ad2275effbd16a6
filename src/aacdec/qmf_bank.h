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
    // Complex bank over `slots` consecutive slots (32 * slots samples; slot l
    // into row l), four transforms side by side: the values of `slots`
    // calls of Process.
    void ProcessSlots(const float* input, int slots, float (*re)[32], float (*im)[32]);

private:
    float* Advance(const float* input);  // takes 32 samples, returns the window

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
    // `slots` consecutive slots (row l in, 64 samples at output + 64 * l out),
    // two at a time through four side-by-side transforms; im null runs the
    // real-valued bank slot by slot. The values of `slots` calls of Process.
    void ProcessSlots(const float (*re)[64], const float (*im)[64], int slots, float* output);

private:
    float* Advance();  // room for one slot's 128 values, returns the window

    // As in the analysis: the 1280-value V window at v_ + pos_.
    static constexpr int kRingSlots = 16;
    float v_[1280 + 128 * kRingSlots];
    int pos_;
};

}  // namespace aurivane

#endif
