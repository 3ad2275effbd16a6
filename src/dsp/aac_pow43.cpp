#include "dsp/aac_pow43.h"

#include <cmath>

namespace aurivane {

namespace {

struct Built : AacPow43 {
    Built() {
        for (int i = 0; i < kAacPow43Size; ++i) {
            value[i] = std::pow(static_cast<double>(i), 4.0 / 3.0);
            valueFloat[i] = static_cast<float>(value[i]);
        }
    }
};

}  // namespace

const AacPow43& AacPow43Table() {
    static const Built table;
    return table;
}

}  // namespace aurivane
