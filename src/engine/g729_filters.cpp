#include "engine/g729_filters.h"

#include "engine/class_constructors.h"
#include "g729/g729_codec.h"

#include <cstddef>
#include <limits>
#include <memory>
#include <new>

namespace aurivane {

namespace {

constexpr uint32_t kPcmFrameBytes = 2 * kG729FrameSamples;

// One codec state per direction for the whole process, built in place on
// the first creation. The flags are plain booleans: creating G.729 objects
// from two threads at once is outside the contract.
alignas(G729EncoderState) unsigned char encoderStorage[sizeof(G729EncoderState)];
alignas(G729DecoderState) unsigned char decoderStorage[sizeof(G729DecoderState)];
bool encoderInitialised = false;
bool decoderInitialised = false;

G729EncoderState& SharedEncoder() {
    return *std::launder(reinterpret_cast<G729EncoderState*>(encoderStorage));
}

G729DecoderState& SharedDecoder() {
    return *std::launder(reinterpret_cast<G729DecoderState*>(decoderStorage));
}

// Largest frame count whose output still fits the 32-bit byte count of a
// delivery; only inputs of hundreds of megabytes are split further.
constexpr uint32_t kMaxEncoderFramesPerDelivery = std::numeric_limits<uint32_t>::max() / kG729FrameBytes;
constexpr uint32_t kMaxDecoderFramesPerDelivery = std::numeric_limits<uint32_t>::max() / kPcmFrameBytes;

}  // namespace

G729Encoder::G729Encoder() {
    if (!encoderInitialised) {
        // The constructor sets the load-time fields; InitEncoder the rest.
        ::new (encoderStorage) G729EncoderState();
        SharedEncoder().InitEncoder();
        encoderInitialised = true;
    }
}

int32_t G729Encoder::Process(const void* data, uint32_t byteCount) {
    if (data == nullptr && byteCount != 0) return 0;
    const auto* in = static_cast<const uint8_t*>(data);
    uint32_t frames = byteCount / kPcmFrameBytes;
    G729EncoderState& codec = SharedEncoder();
    do {
        const uint32_t count = frames < kMaxEncoderFramesPerDelivery ? frames : kMaxEncoderFramesPerDelivery;
        const std::size_t outBytes = static_cast<std::size_t>(count) * kG729FrameBytes;
        // Never a null pointer, also for a zero-length delivery.
        std::unique_ptr<uint8_t[]> out(new (std::nothrow) uint8_t[outBytes ? outBytes : 1]);
        if (!out) return 0;
        for (uint32_t k = 0; k < count; ++k) {
            // The input may sit at any address: assemble little-endian samples.
            int16_t pcm[kG729FrameSamples];
            const uint8_t* src = in + static_cast<std::size_t>(k) * kPcmFrameBytes;
            for (int i = 0; i < kG729FrameSamples; ++i) {
                pcm[i] = static_cast<int16_t>(static_cast<uint16_t>(src[2 * i] | (src[2 * i + 1] << 8)));
            }
            codec.EncodeFrame(pcm, out.get() + static_cast<std::size_t>(k) * kG729FrameBytes);
        }
        sinks_.Deliver(out.get(), static_cast<uint32_t>(outBytes));
        in += static_cast<std::size_t>(count) * kPcmFrameBytes;
        frames -= count;
    } while (frames > 0);
    return 1;
}

int32_t G729Encoder::AddSink(AudioSink* sink) {
    sinks_.Add(sink);
    return 1;
}

int32_t G729Encoder::RemoveSink(AudioSink* sink) { return sinks_.Remove(sink) ? 1 : 0; }

G729Decoder::G729Decoder() {
    if (!decoderInitialised) {
        ::new (decoderStorage) G729DecoderState();
        SharedDecoder().InitDecoder();
        decoderInitialised = true;
    }
}

int32_t G729Decoder::Process(const void* data, uint32_t byteCount) {
    // Null stands for byteCount / 10 lost frames; a count that is not whole
    // frames says the caller lost track of the framing, not a frame.
    if (data == nullptr && byteCount % kG729FrameBytes != 0) return 0;
    const auto* in = static_cast<const uint8_t*>(data);
    uint32_t frames = byteCount / kG729FrameBytes;
    G729DecoderState& codec = SharedDecoder();
    do {
        const uint32_t count = frames < kMaxDecoderFramesPerDelivery ? frames : kMaxDecoderFramesPerDelivery;
        const std::size_t outBytes = static_cast<std::size_t>(count) * kPcmFrameBytes;
        std::unique_ptr<uint8_t[]> out(new (std::nothrow) uint8_t[outBytes ? outBytes : 1]);
        if (!out) return 0;
        for (uint32_t k = 0; k < count; ++k) {
            int16_t pcm[kG729FrameSamples];
            codec.DecodeFrame(in ? in + static_cast<std::size_t>(k) * kG729FrameBytes : nullptr, pcm);
            uint8_t* dst = out.get() + static_cast<std::size_t>(k) * kPcmFrameBytes;
            for (int i = 0; i < kG729FrameSamples; ++i) {
                const auto v = static_cast<uint16_t>(pcm[i]);
                dst[2 * i] = static_cast<uint8_t>(v & 0xFF);
                dst[2 * i + 1] = static_cast<uint8_t>(v >> 8);
            }
        }
        sinks_.Deliver(out.get(), static_cast<uint32_t>(outBytes));
        if (in) in += static_cast<std::size_t>(count) * kG729FrameBytes;
        frames -= count;
    } while (frames > 0);
    return 1;
}

int32_t G729Decoder::AddSink(AudioSink* sink) {
    sinks_.Add(sink);
    return 1;
}

int32_t G729Decoder::RemoveSink(AudioSink* sink) { return sinks_.Remove(sink) ? 1 : 0; }

void* NewG729Encoder() { return new (std::nothrow) G729Encoder(); }

void DeleteG729Encoder(void* object) { delete static_cast<G729Encoder*>(object); }

void* NewG729Decoder() { return new (std::nothrow) G729Decoder(); }

void DeleteG729Decoder(void* object) { delete static_cast<G729Decoder*>(object); }

}  // namespace aurivane
