// AAC-LC core encoder: one single channel element per 1024-sample frame,
// with the SBR payload of the same frame in a fill element. The instance
// keeps the analysis history, the bit reservoir and the PE control; many
// instances may run at once on different threads. Nothing is allocated per
// frame.
#ifndef AURIVANE_AACENC_AAC_CORE_ENCODER_H
#define AURIVANE_AACENC_AAC_CORE_ENCODER_H

#include <cstdint>

namespace aurivane {

struct AacCoreConfig {
    int32_t sampleRate = 0;      // core rate, Hz: 11025, 12000, 16000, 22050 or 24000 can be coded
    int32_t bitRate = 48000;     // bits per second of the access units, SBR payload included
    int32_t inputChannels = 0;
    int32_t outputChannels = 0;  // 1 (a channel pair is not coded)
    int32_t bandwidth = 0;       // coded audio bandwidth, Hz; 0 means sampleRate / 2
    int32_t maxFrameBytes = 0;   // ceiling on every access unit; 0 means 768 (6144 bits)
};

// Counters since open, for tests and tuning.
struct AacCoreStats {
    int64_t frames;
    int64_t bytes;              // access-unit bytes written
    int64_t sbrBytes;           // SBR payload bytes carried
    int64_t writerMismatches;   // bits written differ from the bits counted
    int64_t reservoirErrors;    // reservoir out of its bounds, or a fill that shrank
    int64_t overMaxBits;        // frames above 6144 bits per channel
    int64_t ceilingHits;        // frames whose budget, fill or SBR payload the ceiling cut
    int64_t sbrDropped;         // SBR payloads left out because they could not fit
    int64_t overflowBits;       // reservoir overflow the ceiling kept from being written
    int64_t loopSteps;          // global gain increments of the budget loop
    int32_t largestFrameBytes;
};

class AacCoreEncoder;

// 0 and a new instance in *handle, or 1 and a null handle when the
// configuration is refused (rates without band tables, bitrates outside
// 8000 .. sampleRate x 5.2734375 per channel or without TNS parameters,
// two coded channels, a ceiling below 64 bytes).
int AacCoreOpen(AacCoreEncoder** handle, AacCoreConfig config);

// Codes 1024 samples read with `stride` (16-bit scale floats). sbrPayload
// holds payloadBytes (0 .. 256) bytes that start with their extension type.
// out receives one raw data block of *outBytes bytes, at most the ceiling.
// Returns 0, or -1 for a null handle or argument.
int AacCoreEncodeFrame(AacCoreEncoder* handle, const float* samples, int stride, const uint8_t* sbrPayload,
                       int payloadBytes, uint8_t* out, int* outBytes);

// Releases the instance; a null handle is ignored.
void AacCoreClose(AacCoreEncoder* handle);

const AacCoreStats* AacCoreGetStats(const AacCoreEncoder* handle);

}  // namespace aurivane

#endif
