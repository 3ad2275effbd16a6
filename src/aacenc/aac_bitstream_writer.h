// Raw data block writer (ISO/IEC 14496-3, AAC-LC): one single_channel_element
// with ics_info, section_data, scale_factor_data, TNS data and spectral_data,
// a fill element carrying the SBR payload, fill elements for unused bits, the
// END element and byte alignment. Keeps no state.
#ifndef AURIVANE_AACENC_AAC_BITSTREAM_WRITER_H
#define AURIVANE_AACENC_AAC_BITSTREAM_WRITER_H

#include "aacenc/aac_psy_output.h"
#include "aacenc/aac_section.h"
#include "dsp/bit_buffer.h"

#include <cstdint>

namespace aurivane {

// Everything one channel's element needs besides the psychoacoustic output.
struct AacChannelCoding {
    const AacSectionData* sections;
    const int16_t* quant;      // 1024 values, interleaved for short frames
    const int16_t* scfOffset;  // per grouped band
    const int32_t* sfbMaxVal;  // per grouped band
    int32_t globalGain;        // G of rate control
};

// Side information of the element without section data, scalefactors and
// spectral data: 29 (long) or 33 (short) bits plus the TNS data.
int32_t AacStaticBits(const PsyOutput& psy);

// Bits of the fill element that carries an SBR payload of n bytes.
inline int32_t AacSbrPayloadBits(int n) { return n <= 0 ? 0 : 8 * n + 7 + (n > 14 ? 8 : 0); }

// Fill' and alignment for `fillBits` requested fill bits after `usedBits`
// (3 + static + dynamic + ancillary) as the writer will place them. Returns
// false when the arithmetic would lower the fill (a frame in error).
bool AacFillAndAlignment(int32_t usedBits, int32_t fillBits, int32_t* fillOut, int32_t* alignOut);

// Writes one raw data block and returns the bits written (a multiple of 8
// unless the element stopped on an invalid scalefactor delta, which returns
// -1). fill is fill' of AacFillAndAlignment.
int32_t AacWriteRawDataBlock(BitBuffer* out, const PsyOutput& psy, const AacChannelCoding& coding,
                             const uint8_t* sbrPayload, int sbrBytes, int32_t fill);

}  // namespace aurivane

#endif
