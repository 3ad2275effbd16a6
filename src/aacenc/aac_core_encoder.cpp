// AAC-LC core encoder: open-time validation and the per-frame pipeline
// (analysis, rate control, writing, reservoir update).
#include "aacenc/aac_core_encoder.h"

#include "aacenc/aac_bitstream_writer.h"
#include "aacenc/aac_psy_model.h"
#include "aacenc/aac_quantiser.h"
#include "aacenc/aac_rate_control.h"
#include "dsp/bit_buffer.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <new>

namespace aurivane {

namespace {

constexpr int kMaxSbrPayload = 256;
constexpr int kWriterCapacity = 1536;
constexpr int kDefaultFrameBytes = 768;  // 6144 bits
constexpr int kSmallestCeiling = 64;     // holds the largest side information of an empty frame
constexpr int kTnsMask = 3;              // TNS on long and short blocks
// Input beyond 32 times full scale, or not finite, cannot be 16-bit audio;
// bounding it keeps every energy and quantised value of the frame finite.
constexpr float kInputLimit = 1048576.0f;

bool RateHasCoreTables(int rate) {
    switch (rate) {
        case 8000: case 11025: case 12000: case 16000: case 22050: case 24000:
        case 32000: case 44100: case 48000:
            return true;
        default:
            return false;
    }
}

}  // namespace

class AacCoreEncoder {
public:
    AacCoreConfig config{};
    AacPsyModel psy;
    AacQuantiser quantiser;
    AacRateControl rate;
    AacCoreStats stats{};
    float input[1024]{};
    PsyOutput psyOut{};
    AacFrameCoding coding{};
    BitBuffer bits{};
    uint8_t storage[kWriterCapacity]{};
};

int AacCoreOpen(AacCoreEncoder** handle, AacCoreConfig config) {
    if (handle == nullptr) return 1;
    *handle = nullptr;
    const int in = config.inputChannels, outCh = config.outputChannels;
    if (in < 1 || in > 2 || outCh < 1 || outCh > 2 || in < outCh) return 1;
    if (config.bitRate != 0 && (config.bitRate / outCh < 8000 || config.bitRate / outCh > 160000)) return 1;
    if (!RateHasCoreTables(config.sampleRate)) return 1;
    if (static_cast<float>(config.bitRate) >
        static_cast<float>(config.sampleRate) * 5.2734375f * static_cast<float>(outCh))
        return 1;
    if (outCh != 1) return 1;  // channel pair elements are not coded
    if (config.maxFrameBytes == 0) config.maxFrameBytes = kDefaultFrameBytes * outCh;
    if (config.maxFrameBytes < kSmallestCeiling) return 1;
    config.maxFrameBytes = std::min(config.maxFrameBytes, kDefaultFrameBytes * outCh);
    if (config.bandwidth <= 0 || config.bandwidth > config.sampleRate / 2) config.bandwidth = config.sampleRate / 2;

    AacCoreEncoder* e = new (std::nothrow) AacCoreEncoder();
    if (e == nullptr) return 1;
    e->config = config;
    if (e->psy.Open(config.sampleRate, config.bitRate, outCh, config.bandwidth, kTnsMask) != 0 ||
        e->rate.Open({config.bitRate, config.sampleRate, config.bandwidth, outCh, config.maxFrameBytes}) != 0) {
        delete e;
        return 1;
    }
    *handle = e;
    return 0;
}

int AacCoreEncodeFrame(AacCoreEncoder* e, const float* samples, int stride, const uint8_t* sbrPayload,
                       int payloadBytes, uint8_t* out, int* outBytes) {
    if (outBytes != nullptr) *outBytes = 0;
    if (e == nullptr || samples == nullptr || out == nullptr || outBytes == nullptr) return -1;
    payloadBytes = sbrPayload == nullptr ? 0 : std::clamp(payloadBytes, 0, kMaxSbrPayload);

    for (int i = 0; i < 1024; ++i) {
        const float v = samples[static_cast<std::ptrdiff_t>(i) * stride];
        e->input[i] = std::isfinite(v) ? std::clamp(v, -kInputLimit, kInputLimit) : 0.0f;
    }
    e->psy.Analyse(e->input, 1, &e->psyOut);
    e->rate.FrameBudget();
    AacFrameCoding& c = e->coding;
    e->rate.CodeFrame(e->psyOut, payloadBytes, &e->quantiser, &c);

    BitBufferCreate(&e->bits, e->storage, kWriterCapacity);
    const AacChannelCoding channel{&c.sections, c.quant, c.scfOffset, c.sfbMaxVal, c.globalGain};
    int32_t written = AacWriteRawDataBlock(&e->bits, e->psyOut, channel, sbrPayload, c.sbrBytes, c.fillBits);
    if (written != c.totalBits) {
        ++e->stats.writerMismatches;
        if (written < 0) written = 0;  // the element stopped: deliver nothing rather than a broken block
    }
    if (e->rate.Commit(c, written) != 0) ++e->stats.reservoirErrors;

    AacCoreStats& s = e->stats;
    ++s.frames;
    s.reservoirErrors += c.reservoirError + c.fillError;
    s.overMaxBits += c.overMaxBits;
    s.ceilingHits += c.ceilingHit;
    s.sbrDropped += c.sbrDropped;
    s.loopSteps += c.loopSteps;
    s.overflowBits = e->rate.OverflowBits();
    s.sbrBytes += c.sbrBytes;
    const int bytes = written / 8;
    s.bytes += bytes;
    s.largestFrameBytes = std::max(s.largestFrameBytes, bytes);
    std::memcpy(out, e->storage, static_cast<std::size_t>(bytes));
    *outBytes = bytes;
    return 0;
}

void AacCoreClose(AacCoreEncoder* handle) { delete handle; }

const AacCoreStats* AacCoreGetStats(const AacCoreEncoder* handle) { return handle ? &handle->stats : nullptr; }

}  // namespace aurivane
