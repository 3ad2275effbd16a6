// Helpers of the AAC core tests: ADTS splitting, peer decoding, core
// decoding of raw blocks, signal comparison.
#ifndef AURIVANE_TESTS_AACDEC_AAC_TEST_UTIL_H
#define AURIVANE_TESTS_AACDEC_AAC_TEST_UTIL_H

#include "aacdec/aac_core_decoder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace aurivane::aactest {

std::vector<uint8_t> ReadFile(const std::string& path);

// Raw data blocks of an ADTS stream (headers of 7 or 9 bytes removed), and
// its sampling rate and channel configuration.
struct AdtsStream {
    std::vector<std::vector<uint8_t>> blocks;
    int sampleRate = 0;
    int channels = 0;
};
AdtsStream SplitAdts(const std::vector<uint8_t>& bytes);

// Runs a shell command; true when it exited with 0.
bool RunCommand(const std::string& command);
// ffmpeg's float decode of a file, interleaved, scaled to the 16-bit range.
// Empty when ffmpeg is unavailable or fails.
std::vector<float> PeerDecode(const std::string& path, int channels);

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

// Decodes every block; returns interleaved output (channels of the stream)
// without the leading frame of delay. `noiseFree`, when given, receives per
// output frame whether neither it nor the frame it overlaps used noise
// substitution (whose generator differs between decoders).
std::vector<float> DecodeBlocks(const AdtsStream& stream, std::vector<bool>* noiseFree = nullptr);

// SNR in dB of `test` against `reference` over their common length, or over
// the 1024-sample frames (of `channels` interleaved) that `frames` selects.
double SnrDb(const std::vector<float>& reference, const std::vector<float>& test);
double SnrDb(const std::vector<float>& reference, const std::vector<float>& test, int channels,
             const std::vector<bool>& frames);

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
