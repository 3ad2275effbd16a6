#include "engine/aac_decoder_filter.h"

#include "engine/class_constructors.h"

#include "aacdec/sbr_decoder.h"

#include <cstring>
#include <new>

namespace aurivane {

namespace {

// The stream carries no rate; the core always runs at 22050 Hz.
constexpr int kCoreRate = 22050;

}  // namespace

int16_t AacPcmFromFloat(float v) {
    if (v >= 32767.0f) return 32767;
    if (v <= -32768.0f) return -32768;
    if (!(v == v)) return 0;  // NaN from a hostile frame: silence, not UB
    return static_cast<int16_t>(v);  // truncation toward zero
}

AacDecoderFilter::AacDecoderFilter()
    : bits_(nullptr), core_(nullptr), sbrStorage_(SbrDecoderCreate()), sbr_(nullptr), parameter_(0) {
    std::memset(time_, 0, sizeof(time_));
    std::memset(staging_, 0, sizeof(staging_));
    std::memset(bitStorage_, 0, sizeof(bitStorage_));
    std::memset(&bitBuffer_, 0, sizeof(bitBuffer_));
    std::memset(&sbrPayloads_, 0, sizeof(sbrPayloads_));
}

int32_t AacDecoderFilter::AddSink(AudioSink* sink) {
    sinks_.Add(sink);
    return 1;
}

int32_t AacDecoderFilter::RemoveSink(AudioSink* sink) { return sinks_.Remove(sink) ? 1 : 0; }

int32_t AacDecoderFilter::Open(int32_t parameter) {
    bits_ = BitBufferCreate(&bitBuffer_, bitStorage_, kBitBufferBytes);
    core_ = AacCoreDecoderOpen(&coreInstance_, bits_, &sbrPayloads_, time_);
    if (core_ == nullptr || AacCoreDecoderConfigure(core_, kCoreRate, parameter) != 0) {
        BitBufferDelete(&bits_);
        core_ = nullptr;
        return 0;
    }
    sbr_ = nullptr;
    parameter_ = parameter;
    return 1;
}

int32_t AacDecoderFilter::Process(const void* data, uint32_t byteCount) {
    if (bits_ == nullptr || core_ == nullptr) return 0;
    if (data == nullptr && byteCount != 0) return 0;
    const uint8_t* read = static_cast<const uint8_t*>(data);
    uint32_t remaining = byteCount;
    uint32_t offset = 0;
    while (remaining > 0) {
        const uint32_t length = read[0];
        // A record running past the buffer is rejected, not read.
        if (length > remaining - 1) return 0;
        if (!DecodeRecord(read + 1, length, &offset)) return 0;
        read += 1 + length;
        remaining -= 1 + length;
    }
    sinks_.Deliver(output_, offset);
    return 1;
}

bool AacDecoderFilter::DecodeRecord(const uint8_t* payload, uint32_t length, uint32_t* offset) {
    // Every record starts on an empty bit buffer, so the unread or over-read
    // bits of a damaged record cannot shift the records after it.
    BitBufferAttach(bits_, bitStorage_, kBitBufferBytes);
    for (uint32_t i = 0; i < length; ++i) BitBufferWrite(bits_, payload[i], 8);
    sbrPayloads_.count = 0;
    int frameSize = 0, sampleRate = 0, channels = 0, channelMode = 0;
    if (AacCoreDecodeFrame(core_, &frameSize, &sampleRate, &channels, &channelMode, 1) != 0) return false;

    ApplySbr(&frameSize, &sampleRate, &channels);

    if (frameSize < 1 || frameSize > 2048) return false;
    if (channels < 1) channels = 1;
    if (channels > 2) channels = 2;
    const uint32_t bytes = 4u * static_cast<uint32_t>(frameSize);
    if (*offset + bytes > kOutputBytes) return false;
    const int n = frameSize;
    const float* right = time_ + (channels == 2 ? n : 0);
    for (int i = 0; i < n; ++i) {
        staging_[2 * i] = AacPcmFromFloat(time_[i]);
        staging_[2 * i + 1] = AacPcmFromFloat(right[i]);
    }
    // Little-endian 16-bit samples, left first.
    uint8_t* out = output_ + *offset;
    for (int i = 0; i < 2 * n; ++i) {
        const uint16_t v = static_cast<uint16_t>(staging_[i]);
        out[2 * i] = static_cast<uint8_t>(v & 0xFF);
        out[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
    *offset += bytes;
    return true;
}

void AacDecoderFilter::ApplySbr(int* frameSize, int* sampleRate, int* channels) {
    // The SBR decoder opens on the first frame with SBR payloads; once open
    // it also upsamples frames without them.
    // Opening re-initialises the filter's own instance in place.
    if (sbr_ == nullptr && sbrPayloads_.count != 0) sbr_ = SbrDecoderOpen(sbrStorage_, *sampleRate, *frameSize, 0, 0);
    if (sbr_ == nullptr) return;
    if (SbrDecoderApply(sbr_, &sbrPayloads_, time_, channels, 1, 0, 0) != 0) {
        // Dropped: this frame goes out at the core rate, the next SBR frame
        // opens the decoder afresh.
        sbr_ = nullptr;
        return;
    }
    *frameSize *= 2;
    *sampleRate *= 2;
}

AacDecoderFilter::~AacDecoderFilter() { SbrDecoderDestroy(sbrStorage_); }

void* NewAacDecoder() {
    AacDecoderFilter* filter = new (std::nothrow) AacDecoderFilter();
    // Out of memory for the SBR instance is out of memory at creation.
    if (filter != nullptr && !filter->HasSbrStorage()) {
        delete filter;
        return nullptr;
    }
    return filter;
}

void DeleteAacDecoder(void* object) { delete static_cast<AacDecoderFilter*>(object); }

}  // namespace aurivane
