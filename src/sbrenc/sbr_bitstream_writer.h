// Bit syntax of the SBR extension data of one single-channel element
// (sbr_single_channel_element of ISO/IEC 14496-3 with the header when due)
// and its parametric-stereo extension. Stateless: everything it writes was
// decided by the analysis and the envelope coder.
#ifndef AURIVANE_SBRENC_SBR_BITSTREAM_WRITER_H
#define AURIVANE_SBRENC_SBR_BITSTREAM_WRITER_H

#include "dsp/bit_buffer.h"
#include "sbrenc/sbr_encoder_types.h"
#include "sbrenc/sbr_envelope_coder.h"

namespace aurivane {

// Writes bs_header_flag and, when header is not null, sbr_header.
int SbrWriteHeader(BitBuffer* out, const SbrHeaderValues* header);

// Writes bs_header_flag, the header when `header` is not null, then
// sbr_single_channel_element: bs_data_extra 0, sbr_grid, sbr_dtdf,
// sbr_invf, sbr_envelope, sbr_noise, sbr_sinusoidal_coding and the extended
// data. psBits: psBitCount bits of ps_data, first bit the most significant
// of psBits[0]; with psBitCount 0 no extension is written. Returns the
// number of bits written.
int SbrWriteSingleChannelElement(BitBuffer* out, const SbrHeaderValues* header, const SbrEncoderBandTables& tables,
                                 const SbrGridFields& grid, const SbrCodedChannel& coded, const SbrFrameValues& values,
                                 const uint8_t* psBits, int psBitCount);

}  // namespace aurivane

#endif
