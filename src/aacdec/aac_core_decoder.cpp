#include "aacdec/aac_core_decoder.h"

#include <cstring>

namespace aurivane {

namespace {

enum ElementId : uint32_t {
    kSce = 0,
    kCpe = 1,
    kCce = 2,
    kLfe = 3,
    kDse = 4,
    kPce = 5,
    kFil = 6,
    kEnd = 7,
};

constexpr int32_t kRates[kNumRates] = {48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};

constexpr uint32_t kExtSbrData = 13;
constexpr uint32_t kExtSbrDataCrc = 14;

void Align(AacCoreDecoder* d) {
    const int32_t consumed = (d->anchor - BitBufferCount(d->bits)) % 8;
    if (consumed != 0) BitBufferRead(d->bits, 8 - (consumed < 0 ? consumed + 8 : consumed));
    d->anchor = BitBufferCount(d->bits);
}

void SkipBytes(BitBuffer* bits, int32_t count) {
    for (int32_t i = 0; i < count; ++i) BitBufferRead(bits, 8);
}

void PrepareChannel(AacCoreDecoder* d, ChannelStream* ch) {
    ch->ics.read = 0;
    ch->ics.rateIndex = static_cast<uint8_t>(d->rateIndex);
}

int32_t ParseSingleChannel(AacCoreDecoder* d, ChannelStream* ch) {
    ch->elementTag = static_cast<int32_t>(BitBufferRead(d->bits, 4));
    PrepareChannel(d, ch);
    return ParseIndividualChannelStream(d->bits, ch, 0);
}

int32_t ParseChannelPair(AacCoreDecoder* d) {
    ChannelStream* ch0 = &d->channel[0];
    ChannelStream* ch1 = &d->channel[1];
    ch0->elementTag = static_cast<int32_t>(BitBufferRead(d->bits, 4));
    PrepareChannel(d, ch0);
    PrepareChannel(d, ch1);
    const int32_t common = static_cast<int32_t>(BitBufferRead(d->bits, 1));
    ch0->msMaskPresent = 0;
    std::memset(ch0->msMask, 0, sizeof(ch0->msMask));
    if (common) {
        const int32_t status = ParseIcsInfo(d->bits, &ch0->ics);
        if (status != kAacOk) return status;
        ch1->ics = ch0->ics;
        ParseMsMask(d->bits, ch0);
    }
    const int32_t status = ParseIndividualChannelStream(d->bits, ch0, common);
    if (status != kAacOk) return status;
    return ParseIndividualChannelStream(d->bits, ch1, common);
}

void SingleChannelTools(AacCoreDecoder* d, ChannelStream* ch) {
    ApplyNoiseSubstitution(ch, 0, ch, &d->noise);
    ++d->noise.increment;
    ApplyTns(ch);
}

void ChannelPairTools(AacCoreDecoder* d) {
    ChannelStream* ch0 = &d->channel[0];
    ChannelStream* ch1 = &d->channel[1];
    if (ch0->commonWindow) {
        ApplyNoiseCorrelationCheck(ch0, ch1);
        ApplyMidSide(ch0, ch1);
    }
    ApplyIntensity(ch0, ch1);
    ApplyNoiseSubstitution(ch0, 0, ch0, &d->noise);
    ++d->noise.increment;
    ApplyTns(ch0);
    ApplyNoiseSubstitution(ch1, 1, ch0, &d->noise);
    ApplyTns(ch1);
}

void ParseDataStream(AacCoreDecoder* d) {
    BitBufferRead(d->bits, 4);  // element_instance_tag
    const uint32_t align = BitBufferRead(d->bits, 1);
    int32_t count = static_cast<int32_t>(BitBufferRead(d->bits, 8));
    if (count == 255) count += static_cast<int32_t>(BitBufferRead(d->bits, 8));
    if (align) Align(d);
    SkipBytes(d->bits, count);
}

void ParseFill(AacCoreDecoder* d, uint32_t previousElement) {
    int32_t count = static_cast<int32_t>(BitBufferRead(d->bits, 4));
    if (count == 15) count += static_cast<int32_t>(BitBufferRead(d->bits, 8)) - 1;
    if (count == 0) return;
    const uint32_t type = BitBufferRead(d->bits, 4);
    SbrPayloadList* list = d->sbr;
    const bool keep = list != nullptr && (previousElement == kSce || previousElement == kCpe) &&
                      (type == kExtSbrData || type == kExtSbrDataCrc) && list->count >= 0 && list->count < 2 &&
                      count <= static_cast<int32_t>(sizeof(list->entries[0].bytes));
    if (!keep) {
        BitBufferRead(d->bits, 4);
        SkipBytes(d->bits, count - 1);
        return;
    }
    SbrPayloadEntry& entry = list->entries[list->count];
    entry.extensionType = static_cast<int32_t>(type);
    entry.byteCount = count;
    entry.bytes[0] = static_cast<uint8_t>(BitBufferRead(d->bits, 4));
    for (int32_t i = 1; i < count; ++i) entry.bytes[i] = static_cast<uint8_t>(BitBufferRead(d->bits, 8));
    ++list->count;
}

void RecordElementType(AacCoreDecoder* d, int32_t type) {
    SbrPayloadList* list = d->sbr;
    if (list != nullptr && list->count >= 0 && list->count < 2) list->entries[list->count].elementType = type;
}

}  // namespace

AacCoreDecoder* AacCoreDecoderOpen(AacCoreDecoder* instance, BitBuffer* bits, SbrPayloadList* sbr,
                                   float* timeBuffer) {
    if (instance == nullptr) return nullptr;
    std::memset(instance, 0, sizeof(*instance));
    instance->frameLength = 1024;
    instance->bits = bits;
    instance->sbr = sbr;
    instance->timeBuffer = timeBuffer;
    for (int32_t c = 0; c < 2; ++c) {
        ConcealmentReset(&instance->concealment[c]);
        OverlapReset(&instance->overlap[c]);
        instance->channel[c].ics.offsets = kBandTables[0].longOffsets;
    }
    return instance;
}

int AacCoreDecoderConfigure(AacCoreDecoder* instance, int sampleRate, int parameter) {
    if (instance == nullptr) return -1;
    for (int32_t i = 0; i < kNumRates; ++i) {
        if (kRates[i] == sampleRate) {
            instance->rateIndex = i;
            instance->sampleRate = sampleRate;
            instance->parameter = parameter;
            return 0;
        }
    }
    return -1;
}

int AacCoreDecodeFrame(AacCoreDecoder* d, int* frameSize, int* sampleRate, int* channels, int* channelMode,
                       int frameValid) {
    if (d == nullptr || d->bits == nullptr || d->timeBuffer == nullptr) return -1;
    for (int32_t c = 0; c < 2; ++c) {
        ChannelStream& ch = d->channel[c];
        std::memset(ch.pnsFlag, 0, sizeof(ch.pnsFlag));
        ch.usesNoise = 0;
    }
    std::memset(d->channel[0].correlated, 0, sizeof(d->channel[0].correlated));

    d->frameValid = 1;
    int32_t status = frameValid;
    int32_t channelCount = 0;
    uint32_t previous = kEnd;
    d->anchor = BitBufferCount(d->bits);

    uint32_t id = kSce;
    do {
        id = BitBufferRead(d->bits, 3);
        if (BitBufferCount(d->bits) < 0) d->frameValid = 0;
        switch (id) {
            case kSce:
                // A second single channel element fills channel 1 (dual mono).
                if (channelCount >= 2) {
                    d->frameValid = 0;
                    break;
                }
                RecordElementType(d, 0);
                if (d->frameValid) {
                    ChannelStream* ch = &d->channel[channelCount];
                    status = ParseSingleChannel(d, ch);
                    if (status != kAacOk) d->frameValid = 0;
                    if (d->frameValid) {
                        SingleChannelTools(d, ch);
                        ++channelCount;
                    }
                }
                break;
            case kCpe:
                // Only one pair, and never after a single channel: at most two channels.
                if (channelCount >= 1) {
                    d->frameValid = 0;
                    break;
                }
                RecordElementType(d, 1);
                if (d->frameValid) {
                    status = ParseChannelPair(d);
                    if (status != kAacOk) d->frameValid = 0;
                    if (d->frameValid) {
                        ChannelPairTools(d);
                        channelCount += 2;
                    }
                }
                break;
            case kCce:
                status = kAacCoupling;
                d->frameValid = 0;
                break;
            case kLfe:
                status = kAacLfe;
                d->frameValid = 0;
                break;
            case kDse:
                if (d->frameValid) ParseDataStream(d);
                break;
            case kPce:
                status = kAacProgramConfig;
                d->frameValid = 0;
                break;
            case kFil:
                if (d->frameValid) ParseFill(d, previous);
                break;
            default:
                break;
        }
        previous = id;
    } while (id != kEnd && d->frameValid);

    // A frame without a channel element is lost: it keeps the previous
    // channel count and is concealed.
    if (channelCount == 0) d->frameValid = 0;
    if (d->frameValid) d->channels = channelCount;
    d->frameValid = (d->frameValid && frameValid) ? 1 : 0;

    // Nothing valid yet since open: synthesise one silent channel.
    const int32_t outChannels = d->channels > 0 ? d->channels : 1;
    const BandTable& bands = kBandTables[d->rateIndex];
    for (int32_t c = 0; c < outChannels; ++c) {
        ChannelStream& ch = d->channel[c];
        uint8_t shape = ch.ics.windowShape;
        uint8_t sequence = ch.ics.windowSequence;
        ConcealmentApply(&d->concealment[c], ch.spectrum, &shape, &sequence, d->frameValid, bands);
        InverseFilterbank(&d->overlap[c], ch.spectrum, sequence, shape, d->timeBuffer + 1024 * c);
    }
    Align(d);

    if (frameSize) *frameSize = d->frameLength;
    if (sampleRate) *sampleRate = d->sampleRate;
    if (channels) *channels = outChannels;
    if (channelMode) *channelMode = outChannels == 1 ? 0 : (outChannels == 2 ? 1 : 2);
    return status;
}

}  // namespace aurivane
