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
    float x_[320 + 32];  // newest sample first
};

class QmfSynthesis64 {
public:
    void Reset();
    // Consumes 64 subband samples (im null: real-valued) and produces 64
    // output samples.
    void Process(const float* re, const float* im, float* output);

private:
    float v_[1280];
};

}  // namespace aurivane

#endif
