// Window shapes of the AAC filterbank, shared by the decoder's inverse and
// the encoder's forward transform.
#ifndef AURIVANE_DSP_AAC_WINDOWS_H
#define AURIVANE_DSP_AAC_WINDOWS_H

namespace aurivane {

// Rising halves of the sine and KBD windows (ISO/IEC 14496-3; KBD alpha 4
// for 2048-sample, 6 for 256-sample windows), index = window_shape.
struct AacWindows {
    float longWindow[2][1024];
    float shortWindow[2][128];
};

const AacWindows& AacWindowTables();

}  // namespace aurivane

#endif
