#include "sbrenc/sbr_encoder.h"

#include <cstring>

#include "dsp/sbr_crc.h"
#include "sbrenc/sbr_bitstream_writer.h"
#include "sbrenc/sbr_encoder_config.h"
#include "sbrenc/sbr_patch_map.h"

namespace aurivane {

namespace {

constexpr int kExtensionTypeBits = 4;
constexpr int kCrcBits = 10;

}  // namespace

int32_t SbrEncoder::Open(const SbrEncoderSettings& s, int32_t* bandwidthHz) {
    open_ = false;
    // Only the single-channel element is written (the PS down-mix is one
    // channel), so a two-channel core would get a payload it cannot decode.
    if (s.channels != 1) return 1;
    // A new stream starts from clean histories in every stage.
    for (SbrChannel& c : channel_) c = SbrChannel();
    BitBufferCreate(&bits_, payload_, kSbrMaxPayloadBytes);
    settings_ = s;
    channels_ = s.channels;
    stereoMode_ = s.channels == 2 ? s.stereoMode : 0;
    dualRate_ = s.coreSampleRate <= 24000;
    fsSbr_ = dualRate_ ? 2 * s.coreSampleRate : s.coreSampleRate;
    frameCounter_ = 0;
    headerPeriod_ = SbrHeaderPeriod(s.headerRepeatTimeMs, fsSbr_);
    patchingMode_ = s.patchingMode;
    dataExtra_ = s.patchingMode != 2 ? 1 : s.dataExtra;
    crcFlag_ = s.crcFlag;
    flagA_ = s.flagA;
    flagB_ = s.flagB;
    header_ = SbrHeaderFromSettings(s);
    int32_t bandwidth = 0;
    if (!SbrBuildEncoderBandTables(fsSbr_, dualRate_, &header_, &tables_, &bandwidth)) return 1;
    if (!SbrBuildPatchMap(header_, &tables_)) return 1;

    for (int c = 0; c < channels_; ++c) {
        SbrChannel& ch = channel_[c];
        ch.transient.Init(s, tables_);
        ch.grid.Init(s);
        ch.tonality.Init(tables_.high[tables_.nHigh]);
        ch.inverseFiltering.Init(tables_, s.speechMode, s.inverseFilteringMode);
        ch.harmonics.Init(tables_, s.harmonicsDetection);
        ch.noiseFloor.Init(tables_, s);
        ch.envelope.Init(tables_, header_.ampResolution, flagB_);
        ch.coder.Init(tables_, s);
    }
    usePs_ = s.usePs != 0;
    if (usePs_) {
        // The second input channel only feeds the PS analysis.
        channel_[1].qmf.Reset();
        synthesis_.Reset();
        if (ps_.Open(s.psMode) != 0) return 1;
    }
    payloadBytes_ = 0;
    *bandwidthHz = bandwidth;
    open_ = true;
    return 0;
}

void SbrEncoder::EncodeFrame(const float* input, float* coreOutput, int32_t inputStride, int32_t* payloadLength,
                             uint8_t* payload) {
    // Header in the first frame after open and then every period-th frame.
    const bool sendHeader = frameCounter_ == 0;
    frameCounter_ = headerPeriod_ != 0 ? (frameCounter_ + 1) % headerPeriod_ : 1;

    const int analysisChannels = usePs_ ? 2 : channels_;
    for (int c = 0; c < analysisChannels; ++c) {
        if (usePs_)
            channel_[c].qmf.Process(input + c, 2, &channel_[c].slots);
        else
            channel_[c].qmf.Process(input + c, inputStride, &channel_[c].slots);
    }
    if (usePs_) {
        ps_.EncodeFrame(&channel_[0].slots, &channel_[1].slots, sendHeader);
        // The only 2:1 downsampler: the lower 32 bands of the down-mix,
        // resynthesised at the core rate (the bank includes the sign flip
        // that restores the input's polarity).
        synthesis_.Process(channel_[0].slots, coreOutput);
    }

    // The SCE writer codes one channel: the core channel (the down-mix).
    SbrChannel& ch = channel_[0];
    SbrQmfEnergies(ch.slots, ch.energy);
    ch.tonality.Estimate(ch.slots);
    transientInfo_ = ch.transient.Process(ch.energy);
    ch.grid.Generate(transientInfo_, &grid_, &frameInfo_);
    ch.inverseFiltering.Detect(ch.tonality, transientInfo_, frameInfo_, values_.invfMode);
    ch.harmonics.Detect(ch.tonality, transientInfo_, frameInfo_, &harmonicsInfo_);
    ch.noiseFloor.Estimate(ch.tonality, frameInfo_, values_.invfMode, harmonicsInfo_.frameFlag, noiseValues_);
    SbrQuantiseNoise(noiseValues_, frameInfo_.numNoiseEnvelopes, tables_.nNoise, &values_);
    SbrMissingHarmonics::Signal(harmonicsInfo_, tables_.nHigh, &values_);
    ch.envelope.Estimate(ch.energy, frameInfo_, harmonicsInfo_, &values_);
    ch.coder.Code(frameInfo_, grid_, sendHeader, values_, &coded_);
    for (int c = 0; c < channels_; ++c) SbrSwapEnergyHalves(channel_[c].energy);

    const int32_t bytes = WritePayload(sendHeader);
    payloadBytes_ = bytes;
    if (payload != nullptr && payloadLength != nullptr) {
        *payloadLength = bytes;
        std::memcpy(payload, payload_, static_cast<size_t>(bytes));
    }
}

int32_t SbrEncoder::WritePayload(bool sendHeader) {
    BitBufferAttach(&bits_, payload_, kSbrMaxPayloadBytes);
    std::memset(payload_, 0, sizeof(payload_));
    const int reserved = kExtensionTypeBits + (crcFlag_ ? kCrcBits : 0);
    BitBufferWrite(&bits_, 0, reserved);
    const int dataBits = SbrWriteSingleChannelElement(&bits_, sendHeader ? &header_ : nullptr, tables_, grid_,
                                                      coded_, values_, ps_.Bits(), usePs_ ? ps_.BitCount() : 0);
    const int fill = (8 - (dataBits + reserved) % 8) % 8;
    BitBufferWrite(&bits_, 0, fill);
    const int totalBits = reserved + dataBits + fill;
    // A payload the fill element cannot carry is dropped, not cut.
    if (totalBits > 8 * kSbrMaxPayloadBytes) return 0;
    if (crcFlag_) {
        const uint32_t crc = SbrCrc10(payload_, reserved, dataBits + fill);
        payload_[0] = static_cast<uint8_t>((kSbrExtensionDataCrc << 4) | (crc >> 6));
        payload_[1] = static_cast<uint8_t>(((crc & 0x3Fu) << 2) | (payload_[1] & 0x03u));
    } else {
        payload_[0] = static_cast<uint8_t>((kSbrExtensionData << 4) | (payload_[0] & 0x0Fu));
    }
    return totalBits / 8;
}

int32_t SbrEncoderOpen(SbrEncoder* instance, SbrEncoder** handle, const SbrEncoderSettings* settings,
                       int32_t* bandwidthHz) {
    *handle = nullptr;
    if (instance == nullptr || settings == nullptr) return 1;
    int32_t bandwidth = 0;
    if (instance->Open(*settings, &bandwidth) != 0) return 1;
    if (bandwidthHz != nullptr) *bandwidthHz = bandwidth;
    *handle = instance;
    return 0;
}

int32_t SbrEncoderEncodeFrame(SbrEncoder* handle, const float* input, float* coreOutput, int32_t inputStride,
                              int32_t* payloadLength, uint8_t* payloadBuffer) {
    if (handle == nullptr || !handle->IsOpen()) return 0;
    handle->EncodeFrame(input, coreOutput, inputStride, payloadLength, payloadBuffer);
    return 0;
}

void SbrEncoderClose(SbrEncoder* handle) {
    if (handle != nullptr) handle->Close();
}

}  // namespace aurivane
