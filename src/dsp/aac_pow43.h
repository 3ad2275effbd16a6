// |q|^(4/3) for every quantised magnitude an AAC spectrum may carry, shared
// by the decoder's inverse quantiser and the encoder's distortion measure.
#ifndef AURIVANE_DSP_AAC_POW43_H
#define AURIVANE_DSP_AAC_POW43_H

namespace aurivane {

inline constexpr int kAacPow43Size = 8192;  // magnitudes 0..8191

struct AacPow43 {
    double value[kAacPow43Size];     // double precision, for the decoder
    float valueFloat[kAacPow43Size]; // the same values rounded to single precision
};

// Built on first use, read-only afterwards.
const AacPow43& AacPow43Table();

}  // namespace aurivane

#endif
