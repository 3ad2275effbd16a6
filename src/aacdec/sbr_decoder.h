// SBR and parametric stereo decoder (ISO/IEC 14496-3, 4.6.18 and 8.6.4):
// doubles the bandwidth and sampling rate of a decoded AAC-LC frame and, for
// mono streams with parametric stereo data, produces two channels.
#ifndef AURIVANE_AACDEC_SBR_DECODER_H
#define AURIVANE_AACDEC_SBR_DECODER_H

#include "aacdec/sbr_payload.h"

namespace aurivane {

struct SbrDecoder;

inline constexpr int kSbrStatusOk = 0;
inline constexpr int kSbrStatusFailed = 13;
inline constexpr int kSbrOptionLowPower = 1;

// Storage for one decoder (one per AacDecoder object); created once, not
// per frame.
SbrDecoder* SbrDecoderCreate();
void SbrDecoderDestroy(SbrDecoder* instance);

// (Re)initialises the instance for a core rate and frame size (1024).
// Returns the instance, or null for a null instance or an unsupported
// configuration. Stereo runs the complex-valued QMF bank like mono;
// kSbrOptionLowPower in optionA selects the real-valued (low-power) bank
// for stereo instead, about half the QMF work, whose critically sampled
// synthesis keeps energy the complex one discards: its high band comes
// out 0.5-2 dB louder than a complex-valued decoder's. optionB is accepted
// and not used.
SbrDecoder* SbrDecoderOpen(SbrDecoder* instance, int coreSampleRate, int coreFrameSize, int optionA, int optionB);

// timeBuffer: 4096 floats; core channel c at 1024*c on input, output channel
// c at 2048*c (2048 samples each). *channels may rise from 1 to 2 with
// parametric stereo. downmix averages a stereo core into both channels and
// ignores parametric stereo data. alternativeOutput is accepted and not
// used. Returns kSbrStatusOk, or kSbrStatusFailed when no usable header
// exists (the frame is then left as the core decoded it).
int SbrDecoderApply(SbrDecoder* instance, const SbrPayloadList* payloads, float* timeBuffer, int* channels,
                    int frameValid, int alternativeOutput, int downmix);

}  // namespace aurivane

#endif
