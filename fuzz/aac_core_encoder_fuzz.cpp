// Arbitrary PCM through the AAC-LC core encoder under a random valid
// configuration (core rate, bitrate over the accepted range, bandwidth,
// ceiling) with random SBR payloads of 0 to 256 bytes; our core decoder
// reads every access unit back. A unit that does not parse exactly, a flag
// of the writer's or the reservoir's checks, or a unit above the ceiling
// aborts.
#include "aacdec/aac_core_decoder.h"
#include "aacenc/aac_core_encoder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    uint32_t Byte() { return pos < size ? data[pos++] : 0u; }
    uint32_t Word() { return Byte() | (Byte() << 8); }
    bool Empty() const { return pos >= size; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace aurivane;
    static const int kRates[] = {11025, 12000, 16000, 22050, 24000};
    Reader in{data, size};
    AacCoreConfig config;
    config.sampleRate = kRates[in.Byte() % 5];
    const int highest = std::min(44001, static_cast<int>(config.sampleRate * 5.2734375f));
    config.bitRate = 8000 + static_cast<int>(in.Word() % static_cast<uint32_t>(highest - 8000 + 1));
    config.inputChannels = config.outputChannels = 1;
    config.bandwidth = static_cast<int>(in.Word() % 13000);
    const uint32_t ceiling = in.Byte();
    // No ceiling, odd ceilings 65..255 (the packet stream's), even ones 192..762.
    config.maxFrameBytes = ceiling < 64 ? 0 : static_cast<int>((ceiling & 1) ? ceiling : 3 * ceiling);
    AacCoreEncoder* enc = nullptr;
    if (AacCoreOpen(&enc, config) != 0) std::abort();
    const int limit = config.maxFrameBytes > 0 ? config.maxFrameBytes : 768;

    static AacCoreDecoder dec;
    static BitBuffer bits;
    static SbrPayloadList sbr;
    static uint8_t storage[1536];
    static float time[4096];
    BitBufferCreate(&bits, storage, sizeof(storage));
    AacCoreDecoderOpen(&dec, &bits, &sbr, time);
    AacCoreDecoderConfigure(&dec, config.sampleRate, 0);

    float pcm[1024];
    uint8_t payload[256], au[768];
    for (int frame = 0; frame < 64 && (frame == 0 || !in.Empty()); ++frame) {
        const int sbrBytes = static_cast<int>(in.Word() % 257);
        for (int i = 0; i < sbrBytes; ++i) payload[i] = static_cast<uint8_t>(in.Byte());
        // PCM words, scaled by a per-frame gain byte so that quiet and loud
        // input both occur; gain byte 0 takes raw float bits (NaN, infinities, huge values).
        const uint32_t gainByte = in.Byte();
        const float gain = static_cast<float>(gainByte) / 255.0f;
        for (float& v : pcm) {
            if (gainByte == 0) {
                const uint32_t raw = in.Word() | (in.Word() << 16);
                std::memcpy(&v, &raw, sizeof(v));
            } else {
                v = static_cast<float>(static_cast<int16_t>(in.Word())) * gain;
            }
        }
        int bytes = 0;
        if (AacCoreEncodeFrame(enc, pcm, 1, payload, sbrBytes, au, &bytes) != 0) std::abort();
        if (bytes <= 0 || bytes > limit) std::abort();
        BitBufferAttach(&bits, storage, sizeof(storage));
        for (int i = 0; i < bytes; ++i) BitBufferWrite(&bits, au[i], 8);
        sbr.count = 0;
        int frameSize, rate, channels, mode;
        if (AacCoreDecodeFrame(&dec, &frameSize, &rate, &channels, &mode, 1) != 0) std::abort();
        if (BitBufferCount(&bits) != 0) std::abort();
    }
    const AacCoreStats* stats = AacCoreGetStats(enc);
    if (stats->writerMismatches != 0 || stats->reservoirErrors != 0 || stats->overMaxBits != 0) std::abort();
    AacCoreClose(enc);
    return 0;
}
