// The SBR encoder of one HE-AAC stream: per frame of 2048 input sample
// periods it analyses both input channels in the QMF domain, lets the PS
// encoder replace channel 0 with the down-mix, resynthesises that at half the
// rate for the AAC core, and writes the SBR extension payload (header when
// due, grid, envelopes, noise floors, sinusoids, PS data, CRC, fill bits).
// Everything lives in the instance; nothing is allocated per frame.
#ifndef AURIVANE_SBRENC_SBR_ENCODER_H
#define AURIVANE_SBRENC_SBR_ENCODER_H

#include <cstdint>

#include "dsp/bit_buffer.h"
#include "sbrenc/ps_encoder.h"
#include "sbrenc/qmf_synthesis32.h"
#include "sbrenc/sbr_encoder_types.h"
#include "sbrenc/sbr_envelope_coder.h"
#include "sbrenc/sbr_envelope_estimation.h"
#include "sbrenc/sbr_frame_generator.h"
#include "sbrenc/sbr_inverse_filtering.h"
#include "sbrenc/sbr_missing_harmonics.h"
#include "sbrenc/sbr_noise_floor.h"
#include "sbrenc/sbr_qmf_analysis.h"
#include "sbrenc/sbr_tonality.h"
#include "sbrenc/sbr_transient.h"

namespace aurivane {

// SBR extension types of the fill element (ISO/IEC 14496-3, table 4.121).
inline constexpr int kSbrExtensionData = 13;
inline constexpr int kSbrExtensionDataCrc = 14;

// Analysis state of one input channel; the analysis stages run only on the
// core channel (channel 0, the down-mix when PS is on).
struct SbrChannel {
    SbrQmfAnalysis qmf;
    SbrQmfFrame slots;
    float energy[kSbrQmfSlots][kSbrQmfBands];  // rows 0..15 previous frame, 16..31 this one
    SbrTransientDetector transient;
    SbrFrameGenerator grid;
    SbrTonality tonality;
    SbrInverseFiltering inverseFiltering;
    SbrMissingHarmonics harmonics;
    SbrNoiseFloor noiseFloor;
    SbrEnvelopeEstimator envelope;
    SbrEnvelopeCoder coder;
};

class SbrEncoder {
public:
    // 0 on success with the core bandwidth in Hz; 1 for settings the encoder
    // cannot run (a core of other than one channel, start/stop bands,
    // patching, PS mode).
    int32_t Open(const SbrEncoderSettings& settings, int32_t* bandwidthHz);
    void Close() { open_ = false; }
    bool IsOpen() const { return open_; }

    // One frame. With PS the input holds 2048 interleaved sample pairs and
    // coreOutput receives 1024 samples; without PS channel c's sample n is
    // input[n * inputStride + c] and coreOutput is not written. payload
    // (256 bytes) may be null: the state advances all the same.
    void EncodeFrame(const float* input, float* coreOutput, int32_t inputStride, int32_t* payloadLength,
                     uint8_t* payload);

    const SbrHeaderValues& Header() const { return header_; }
    const SbrEncoderBandTables& BandTables() const { return tables_; }
    int32_t HeaderPeriod() const { return headerPeriod_; }
    bool UsesPs() const { return usePs_; }
    // Analysis results of the last frame, for inspection.
    const SbrGridFields& LastGrid() const { return grid_; }
    const SbrFrameInfo& LastFrameInfo() const { return frameInfo_; }
    const SbrFrameValues& LastValues() const { return values_; }
    const PsEncoder& Ps() const { return ps_; }

private:
    int32_t WritePayload(bool sendHeader);

    bool open_ = false;
    int32_t channels_ = 1;
    int32_t fsSbr_ = 0;
    bool dualRate_ = true;
    bool usePs_ = false;
    int32_t crcFlag_ = 0;
    int32_t headerPeriod_ = 0;
    int32_t frameCounter_ = 0;
    int32_t flagA_ = 1;
    int32_t flagB_ = 1;
    int32_t dataExtra_ = 0;
    int32_t patchingMode_ = 2;
    int32_t stereoMode_ = 0;
    int32_t payloadBytes_ = 0;
    SbrEncoderSettings settings_ = {};
    SbrHeaderValues header_ = {};
    SbrEncoderBandTables tables_ = {};
    SbrChannel channel_[2];
    QmfSynthesis32 synthesis_;
    PsEncoder ps_;
    // Per-frame records of the core channel.
    SbrTransientInfo transientInfo_ = {};
    SbrGridFields grid_ = {};
    SbrFrameInfo frameInfo_ = {};
    SbrHarmonicsInfo harmonicsInfo_ = {};
    SbrFrameValues values_ = {};
    SbrCodedChannel coded_ = {};
    float noiseValues_[2][kSbrMaxNoiseBands] = {};
    BitBuffer bits_ = {};
    uint8_t payload_[kSbrMaxPayloadBytes] = {};
};

// Handle functions over a caller-owned instance. Open returns 0 and sets
// *handle to instance, or returns 1 with *handle null.
int32_t SbrEncoderOpen(SbrEncoder* instance, SbrEncoder** handle, const SbrEncoderSettings* settings,
                       int32_t* bandwidthHz);
// A null handle does nothing. Always returns 0.
int32_t SbrEncoderEncodeFrame(SbrEncoder* handle, const float* input, float* coreOutput, int32_t inputStride,
                              int32_t* payloadLength, uint8_t* payloadBuffer);
// Accepts null.
void SbrEncoderClose(SbrEncoder* handle);

}  // namespace aurivane

#endif
