// The independent Annex A codec used as the reference peer, through its
// public C API only. One object is one channel with its own history.
#ifndef AURIVANE_TESTS_G729INTEROP_PEER_CODEC_H
#define AURIVANE_TESTS_G729INTEROP_PEER_CODEC_H

#include <cstdint>
#include <vector>

struct bcg729EncoderChannelContextStruct_struct;
struct bcg729DecoderChannelContextStruct_struct;

namespace aurivane::test {

class PeerEncoder {
public:
    PeerEncoder();
    ~PeerEncoder();
    PeerEncoder(const PeerEncoder&) = delete;
    PeerEncoder& operator=(const PeerEncoder&) = delete;
    // 80 samples to one 10-byte frame (no VAD, so every frame is speech).
    void Encode(const int16_t* pcm, uint8_t* frame);

private:
    bcg729EncoderChannelContextStruct_struct* ctx_;
};

class PeerDecoder {
public:
    PeerDecoder();
    ~PeerDecoder();
    PeerDecoder(const PeerDecoder&) = delete;
    PeerDecoder& operator=(const PeerDecoder&) = delete;
    void Decode(const uint8_t* frame, int16_t* pcm, bool erased = false);

private:
    bcg729DecoderChannelContextStruct_struct* ctx_;
};

// Whole signals: whole frames only, a partial tail is dropped.
std::vector<uint8_t> PeerEncodeAll(const std::vector<int16_t>& pcm);
std::vector<int16_t> PeerDecodeAll(const std::vector<uint8_t>& frames);

}  // namespace aurivane::test

#endif
