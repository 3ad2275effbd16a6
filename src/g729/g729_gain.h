// Gains: MA prediction of the fixed-codebook energy and the two-stage
// conjugate-structure gain codebook with its preselection.
#ifndef AURIVANE_G729_G729_GAIN_H
#define AURIVANE_G729_G729_GAIN_H

namespace aurivane::g729 {

// Past quantised prediction errors 20 log10(gamma) in dB, newest first.
struct GainPredictor {
    double mem[4];
    void Reset();
    // Predicted code gain g0 for the (sharpened) code vector.
    double Predict(const double code[40]) const;
    void Update(double gammaSum);
    // For a lost subframe: the mean of the memory less 4 dB, at least -14 dB,
    // so that the frames after a loss predict a decaying energy.
    void UpdateErased();
};

// Gains of a lost subframe from those of the subframe before it: the pitch
// gain times 0.9, at most 0.9; the code gain times 0.98.
void AttenuateGains(double* gp, double* gc);

// Correlation terms of the weighted error
// e = gp^2 c[0] + gp c[1] + gc^2 c[2] + gc c[3] + gp gc c[4].
struct GainTerms {
    double c[5];
};

// Returns the 7-bit index (mapped GA index << 4 | mapped GB index).
int QuantizeGains(const GainTerms& t, double g0, bool taming, double* gp, double* gc,
                  double* gammaSum);

void DecodeGains(int index, double g0, double* gp, double* gc, double* gammaSum);

}  // namespace aurivane::g729

#endif
