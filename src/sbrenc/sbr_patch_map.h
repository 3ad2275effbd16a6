// The encoder's copy of the decoder's HF patching: which low QMF band the HF
// generator will copy into each high band, so tonality can be compared
// between the original and the patched signal.
#ifndef AURIVANE_SBRENC_SBR_PATCH_MAP_H
#define AURIVANE_SBRENC_SBR_PATCH_MAP_H

#include "sbrenc/sbr_encoder_types.h"

namespace aurivane {

// Fills tables->patchSource (255 where nothing is patched) from the master
// table, k0 and the crossover band of `header`, at tables->fsSbr. Returns
// false when the decoder could not patch this layout (more patches than it
// allows, or tables that disagree with the standard's band rules).
bool SbrBuildPatchMap(const SbrHeaderValues& header, SbrEncoderBandTables* tables);

}  // namespace aurivane

#endif
