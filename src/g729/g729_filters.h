// Direct-form filters of the codec: LP residual and synthesis, convolution
// with a truncated impulse response, and the second-order high-pass
// sections of the pre- and post-processing.
#ifndef AURIVANE_G729_G729_FILTERS_H
#define AURIVANE_G729_G729_FILTERS_H

namespace aurivane::g729 {

inline constexpr int kMaxFilterLength = 80;

// y[n] = x[n] + sum a[i] x[n-i]; x[-10..-1] must be readable.
// Inline: called with constant lengths in the per-subframe loops.
inline void Residual(const double a[11], const double* x, double* y, int n) {
    for (int i = 0; i < n; ++i) {
        double s = x[i];
        for (int j = 1; j <= 10; ++j) s += a[j] * x[i - j];
        y[i] = s;
    }
}

// y[n] = x[n] - sum a[i] y[n-i] with the ten past outputs in mem (oldest
// first). x and y may be the same buffer; n <= kMaxFilterLength. mem is
// replaced by the last ten outputs when update is true.
void Synthesis(const double a[11], const double* x, double* y, int n, double mem[10], bool update);

// y[n] = sum_{i<=n} x[i] h[n-i], n = 0..len-1; len <= kMaxFilterLength, y
// overlaps neither x nor h.
void Convolve(const double* x, const double* h, double* y, int len);

// Backward filtering of a subframe target through the impulse response:
// d[i] = sum_{j=i}^{39} x[j] h[j-i] (the correlation vector of the pitch
// and fixed-codebook searches).
inline constexpr int kBackwardLength = 40;
void BackwardFilter(const double* x, const double* h, double* d);

inline double Dot(const double* x, const double* y, int n) {
    double s = 0.0;
    for (int i = 0; i < n; ++i) s += x[i] * y[i];
    return s;
}

// y[n] = b0 x[n] + b1 x[n-1] + b2 x[n-2] + a1 y[n-1] + a2 y[n-2].
class HighPass2 {
public:
    HighPass2(const double b[3], const double a[3]) : b_(b), a_(a) {}
    void Reset() { x1_ = x2_ = y1_ = y2_ = 0.0; }
    double Process(double x) {
        // y[n-1] enters last: it is the only term the previous sample has
        // only just produced.
        const double y = b_[0] * x + b_[1] * x1_ + b_[2] * x2_ + a_[2] * y2_ + a_[1] * y1_;
        x2_ = x1_;
        x1_ = x;
        y2_ = y1_;
        y1_ = y;
        return y;
    }

private:
    const double* b_;
    const double* a_;
    double x1_ = 0.0, x2_ = 0.0, y1_ = 0.0, y2_ = 0.0;
};

}  // namespace aurivane::g729

#endif
