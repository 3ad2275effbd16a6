#include "engine/aac_encoder_filter.h"

#include <cstring>
#include <new>

#include "engine/class_constructors.h"
#include "sbrenc/sbr_encoder_config.h"

namespace aurivane {

namespace {

// Arguments of the SBR settings adjustment (stored, and the reference
// bitrate of the transient splitting threshold).
constexpr int32_t kTransientFactor = 8;
constexpr int32_t kStandardBitrate = 24000;

}  // namespace

AacEncoderFilter::AacEncoderFilter() = default;

AacEncoderFilter::~AacEncoderFilter() {
    sinks_.Clear();
    CloseEncoders();
}

void AacEncoderFilter::CloseEncoders() {
    // The core always goes first.
    AacCoreClose(core_);
    core_ = nullptr;
    SbrEncoderClose(sbr_);
    sbr_ = nullptr;
}

int32_t AacEncoderFilter::AddSink(AudioSink* sink) {
    sinks_.Add(sink);
    return 1;
}

int32_t AacEncoderFilter::RemoveSink(AudioSink* sink) { return sinks_.Remove(sink) ? 1 : 0; }

int32_t AacEncoderFilter::Open(const WAVEFORMATEX* format, int32_t bitrate) {
    if (opened_ != 0) return 1;
    if (format == nullptr) return 0;
    // The analysis reads whole 16-bit sample periods; a mono input is
    // duplicated into both PS channels, anything else is refused.
    if (format->wBitsPerSample != 16 || (format->nChannels != 1 && format->nChannels != 2)) return 0;
    int32_t coreRate = 0;
    if (SbrCheckAvailability(bitrate, 1, static_cast<int32_t>(format->nSamplesPerSec), &coreRate) == 0) return 0;

    AacCoreConfig config;
    config.bitRate = bitrate;
    config.inputChannels = format->nChannels;
    config.outputChannels = 1;
    config.maxFrameBytes = kMaxAccessUnitBytes;
    SbrEncoderSettings settings = {};
    SbrDefaultSettings(&settings);
    settings.usePs = 1;
    SbrAdjustSettings(&settings, bitrate, 1, coreRate, kTransientFactor, kStandardBitrate);
    if (SbrEncoderOpen(&sbrInstance_, &sbr_, &settings, &config.bandwidth) != 0) {
        CloseEncoders();
        return 0;
    }
    config.sampleRate = coreRate;
    if (AacCoreOpen(&core_, config) != 0) {
        CloseEncoders();
        return 0;
    }
    format_ = *format;
    bitrate_ = bitrate;
    delayedBytes_ = -1;
    frameBytes_ = static_cast<uint32_t>(kFramePeriods) * format->nChannels * 2;
    pendingBytes_ = 0;
    opened_ = 1;
    return 1;
}

void AacEncoderFilter::EncodeFrame(const uint8_t* pcm) {
    // Sample values by value, at the 16-bit scale.
    if (format_.nChannels == 2) {
        for (int i = 0; i < 2 * kFramePeriods; ++i)
            input_[i] = static_cast<float>(static_cast<int16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8)));
    } else {
        for (int i = 0; i < kFramePeriods; ++i) {
            const float v = static_cast<float>(static_cast<int16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8)));
            input_[2 * i] = v;
            input_[2 * i + 1] = v;
        }
    }
    int32_t payloadBytes = 0;
    SbrEncoderEncodeFrame(sbr_, input_, coreSamples_, 1, &payloadBytes, sbrPayload_);
    if (delayedBytes_ < 0) {
        std::memcpy(delayedPayload_, sbrPayload_, static_cast<size_t>(payloadBytes));
        delayedBytes_ = payloadBytes;
    }
    int unitBytes = 0;
    AacCoreEncodeFrame(core_, coreSamples_, 1, delayedPayload_, delayedBytes_, unit_, &unitBytes);
    std::memcpy(delayedPayload_, sbrPayload_, static_cast<size_t>(payloadBytes));
    delayedBytes_ = payloadBytes;
    // The core's ceiling keeps every unit within one length byte.
    if (unitBytes <= 0 || unitBytes > kMaxAccessUnitBytes) return;
    if (streamLength_ + 1 + static_cast<uint32_t>(unitBytes) > kStreamBytes) {
        sinks_.Deliver(stream_, streamLength_);
        streamLength_ = 0;
        delivered_ = true;
    }
    stream_[streamLength_] = static_cast<uint8_t>(unitBytes);
    std::memcpy(stream_ + streamLength_ + 1, unit_, static_cast<size_t>(unitBytes));
    streamLength_ += 1 + static_cast<uint32_t>(unitBytes);
}

int32_t AacEncoderFilter::Process(const void* data, uint32_t byteCount) {
    if (core_ == nullptr || sbr_ == nullptr) {
        sinks_.Deliver(data, byteCount);
        return 1;
    }
    const uint8_t* in = static_cast<const uint8_t*>(data);
    if (in == nullptr) byteCount = 0;
    streamLength_ = 0;
    delivered_ = false;
    // Bytes held from earlier calls are completed first, so any split of
    // the input into calls codes the same audio.
    if (pendingBytes_ > 0) {
        const uint32_t take = byteCount < frameBytes_ - pendingBytes_ ? byteCount : frameBytes_ - pendingBytes_;
        if (take > 0) std::memcpy(pending_ + pendingBytes_, in, take);
        pendingBytes_ += take;
        in += take;
        byteCount -= take;
        if (pendingBytes_ == frameBytes_) {
            EncodeFrame(pending_);
            pendingBytes_ = 0;
        }
    }
    while (byteCount >= frameBytes_) {
        EncodeFrame(in);
        in += frameBytes_;
        byteCount -= frameBytes_;
    }
    if (byteCount > 0) {
        std::memcpy(pending_ + pendingBytes_, in, byteCount);
        pendingBytes_ += byteCount;
    }
    // One delivery per call, empty when no frame completed.
    if (streamLength_ > 0 || !delivered_) sinks_.Deliver(stream_, streamLength_);
    return 1;
}

void* NewAacEncoder() { return new (std::nothrow) AacEncoderFilter(); }

void DeleteAacEncoder(void* object) { delete static_cast<AacEncoderFilter*>(object); }

}  // namespace aurivane
