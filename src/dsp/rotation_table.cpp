#include "dsp/fft.h"

namespace aurivane {

// sin(2*pi*n/2048), n = 0..512, generated in double precision and rounded.
const float kRotationTable[513] = {
#include "dsp/rotation_table.inc"
};

}  // namespace aurivane
