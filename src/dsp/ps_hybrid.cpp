#include "dsp/ps_hybrid.h"

#include <cmath>

#include "dsp/ps_tables.h"

namespace aurivane {

namespace {

constexpr double kPi = 3.14159265358979323846;

void Modulate(const float* g, int bands, float (*out)[kPsHybridTaps][2]) {
    for (int q = 0; q < bands; ++q)
        for (int j = 0; j < kPsHybridTaps; ++j) {
            const double w = 2.0 * kPi * (q + 0.5) * (j - kPsHybridDelay) / bands;
            out[q][j][0] = static_cast<float>(g[j] * std::cos(w));
            out[q][j][1] = static_cast<float>(g[j] * std::sin(w));
        }
}

struct Built : PsHybridFilters {
    Built() {
        Modulate(kPsHybridG8_20, 8, h8_20);
        Modulate(kPsHybridG12_34, 12, h12_34);
        Modulate(kPsHybridG8_34, 8, h8_34);
        Modulate(kPsHybridG4_34, 4, h4_34);
    }
};

}  // namespace

const PsHybridFilters& PsHybridFilterBank() {
    static const Built filters;
    return filters;
}

}  // namespace aurivane
