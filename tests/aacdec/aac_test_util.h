// Helpers of the AAC core tests: core decoding of raw blocks and a bit
// writer to build them.
#ifndef AURIVANE_TESTS_AACDEC_AAC_TEST_UTIL_H
#define AURIVANE_TESTS_AACDEC_AAC_TEST_UTIL_H

#include "aacdec/aac_core_decoder.h"

#include <cstdint>
#include <vector>

namespace aurivane::aactest {

// A core decoder with its own bit buffer, fed one block per frame.
class CoreHarness {
public:
    explicit CoreHarness(int sampleRate);
    // Writes the block, decodes one frame, leaves the output in Time().
    int Decode(const std::vector<uint8_t>& block, int frameValid = 1);
    const float* Time() const { return time_; }
    int Channels() const { return channels_; }
    AacCoreDecoder& Core() { return core_; }
    SbrPayloadList& Sbr() { return sbr_; }
    BitBuffer& Bits() { return bits_; }

private:
    AacCoreDecoder core_;
    BitBuffer bits_;
    SbrPayloadList sbr_;
    uint8_t storage_[1536];
    float time_[4096];
    int channels_ = 0;
};

// MSB-first bit writer.
class BitWriter {
public:
    void Put(uint32_t value, int width);
    void Align();
    std::vector<uint8_t> bytes;
    int pending = 0;  // bits used in the last byte
};

}  // namespace aurivane::aactest

#endif
