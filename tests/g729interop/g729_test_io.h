// Material for the G.729 interoperability tests: sample files, the ITU
// serial bitstream format, an independent frame unpacker and whole-signal
// runs of our codec.
#ifndef AURIVANE_TESTS_G729INTEROP_G729_TEST_IO_H
#define AURIVANE_TESTS_G729INTEROP_G729_TEST_IO_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace aurivane::test {

// <shared>/samples/<sub>, or nullopt when the folder is not there.
std::optional<std::string> SharedSampleDir(const std::string& sub);

std::vector<uint8_t> ReadBytes(const std::string& path);
// Raw 16-bit little-endian PCM; an odd trailing byte is dropped.
std::vector<int16_t> ReadRawPcm(const std::string& path);
// G.711 mu-law bytes to linear 16-bit samples.
std::vector<int16_t> DecodeMuLaw(const std::vector<uint8_t>& bytes);

// The ITU serial format: per frame a sync word 0x6B21, a size word (80)
// and 80 words of 0x007F (bit 0) or 0x0081 (bit 1), little-endian. A frame
// whose bit words are all zero is erased. Returns false on any other layout.
struct SerialBitstream {
    std::vector<uint8_t> frames;  // packed 10-byte frames, MSB first
    std::vector<bool> erased;     // per frame
};
bool ParseSerialBitstream(const std::vector<uint8_t>& file, SerialBitstream* out);

// The eleven fields of a frame in transmission order, widths 8 10 8 1 13 4
// 7 5 13 4 7.
using FrameParameters = std::array<uint32_t, 11>;
FrameParameters UnpackFrame(const uint8_t* frame);
// True when the parity bit agrees with the six upper bits of pitch delay 1.
bool ParityMatches(const FrameParameters& p);

// Our codec over a whole signal with a fresh state (whole frames only).
std::vector<uint8_t> OursEncodeAll(const std::vector<int16_t>& pcm);
std::vector<int16_t> OursDecodeAll(const std::vector<uint8_t>& frames);

// A committed speech item (tests/data/g729/<name>.wav), 8 kHz mono.
std::vector<int16_t> LoadSpeechItem(const std::string& name);
extern const char* const kSpeechItems[5];

}  // namespace aurivane::test

#endif
