#include "peer_codec.h"

#include <stdexcept>

extern "C" {
#include <bcg729/decoder.h>
#include <bcg729/encoder.h>
}

namespace aurivane::test {

PeerEncoder::PeerEncoder() : ctx_(initBcg729EncoderChannel(0)) {
    if (ctx_ == nullptr) throw std::runtime_error("peer encoder channel could not be created");
}

PeerEncoder::~PeerEncoder() { closeBcg729EncoderChannel(ctx_); }

void PeerEncoder::Encode(const int16_t* pcm, uint8_t* frame) {
    uint8_t length = 0;
    bcg729Encoder(ctx_, pcm, frame, &length);
    if (length != 10) throw std::runtime_error("peer encoder produced a non-speech frame");
}

PeerDecoder::PeerDecoder() : ctx_(initBcg729DecoderChannel()) {
    if (ctx_ == nullptr) throw std::runtime_error("peer decoder channel could not be created");
}

PeerDecoder::~PeerDecoder() { closeBcg729DecoderChannel(ctx_); }

void PeerDecoder::Decode(const uint8_t* frame, int16_t* pcm, bool erased) {
    bcg729Decoder(ctx_, frame, 10, erased ? 1 : 0, 0, 0, pcm);
}

std::vector<uint8_t> PeerEncodeAll(const std::vector<int16_t>& pcm) {
    PeerEncoder enc;
    const std::size_t frames = pcm.size() / 80;
    std::vector<uint8_t> out(frames * 10);
    for (std::size_t k = 0; k < frames; ++k) enc.Encode(&pcm[80 * k], &out[10 * k]);
    return out;
}

std::vector<int16_t> PeerDecodeAll(const std::vector<uint8_t>& frames) {
    PeerDecoder dec;
    const std::size_t count = frames.size() / 10;
    std::vector<int16_t> out(count * 80);
    for (std::size_t k = 0; k < count; ++k) dec.Decode(&frames[10 * k], &out[80 * k]);
    return out;
}

}  // namespace aurivane::test
