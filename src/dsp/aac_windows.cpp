#include "dsp/aac_windows.h"

#include <cmath>
#include <cstdint>

namespace aurivane {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Zeroth-order modified Bessel function of the first kind, by its series.
double BesselI0(double x) {
    double sum = 1.0;
    double term = 1.0;
    const double q = x * x / 4.0;
    for (int32_t k = 1; k < 64; ++k) {
        term *= q / (static_cast<double>(k) * k);
        sum += term;
        if (term < sum * 1e-17) break;
    }
    return sum;
}

void KaiserBesselDerived(float* window, int32_t length, double alpha) {
    // length = half the window; kernel of length/... per ISO/IEC 14496-3.
    const int32_t n = 2 * length;
    double kernel[1025];
    double total = 0.0;
    for (int32_t j = 0; j <= length; ++j) {
        const double r = (j - n / 4.0) / (n / 4.0);
        kernel[j] = BesselI0(kPi * alpha * std::sqrt(std::fmax(0.0, 1.0 - r * r)));
        total += kernel[j];
    }
    double running = 0.0;
    for (int32_t j = 0; j < length; ++j) {
        running += kernel[j];
        window[j] = static_cast<float>(std::sqrt(running / total));
    }
}

struct WindowTables {
    AacWindows windows;
    WindowTables() {
        for (int32_t i = 0; i < 1024; ++i) windows.longWindow[0][i] = static_cast<float>(std::sin(kPi / 2048.0 * (i + 0.5)));
        for (int32_t i = 0; i < 128; ++i) windows.shortWindow[0][i] = static_cast<float>(std::sin(kPi / 256.0 * (i + 0.5)));
        KaiserBesselDerived(windows.longWindow[1], 1024, 4.0);
        KaiserBesselDerived(windows.shortWindow[1], 128, 6.0);
    }
};

}  // namespace

const AacWindows& AacWindowTables() {
    static const WindowTables tables;
    return tables.windows;
}

}  // namespace aurivane
