// Annex A post-filter: long-term post-filter on the residual of A(z/0.55)
// (integer delays), tilt compensation, short-term 1/A(z/0.7) and the
// adaptive gain control.
#ifndef AURIVANE_G729_G729_POSTFILTER_H
#define AURIVANE_G729_G729_POSTFILTER_H

namespace aurivane::g729 {

class PostFilter {
public:
    PostFilter() { ResetAll(); }
    // History buffers and filter memories (decoder initialisation).
    void Reset();
    // Reset plus the tilt memory and the adaptive gain.
    void ResetAll();

    // One 40-sample subframe: syn[-10..39] is the synthesized speech (the ten
    // samples before it are history), a the subframe's decoded LP filter, t0
    // its integer pitch delay. Writes out[0..39].
    void Process(const double* syn, const double a[11], int t0, double* out);

    double AdaptiveGain() const { return gain_; }

private:
    static constexpr int kHist = 143;
    // Residual history plus room for four subframes: the history moves back
    // to the front once every four subframes instead of after each one.
    static constexpr int kRoom = 4 * 40;
    double res_[kHist + kRoom];
    int resAt_;  // start of the current subframe in res_
    double synMem_[10];
    double tiltMem_;
    double gain_;
};

}  // namespace aurivane::g729

#endif
