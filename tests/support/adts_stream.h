// ADTS framing for test code: splits a stream into its raw data blocks and
// wraps blocks back into frames. Independent of the program's ADTS reader,
// which has tests of its own against these frames.
#ifndef AURIVANE_TEST_SUPPORT_ADTS_STREAM_H
#define AURIVANE_TEST_SUPPORT_ADTS_STREAM_H

#include <cstdint>
#include <string>
#include <vector>

namespace aurivane::test {

struct AdtsStream {
    int sampleRate = 0;
    int channelConfig = 0;
    std::vector<std::vector<uint8_t>> blocks;  // raw data blocks, one per frame
};

// Reads CRC-less or CRC-protected single-block ADTS frames; false on
// anything else, unless `resync`: then bytes that do not start a frame
// followed by another frame (or the end) are skipped and a truncated last
// frame is dropped.
bool ReadAdtsBlocks(const std::vector<uint8_t>& file, AdtsStream* out, std::string* error, bool resync = false);

// One CRC-less MPEG-4 AAC-LC frame per block.
std::vector<uint8_t> WrapAdts(const AdtsStream& stream);

}  // namespace aurivane::test

#endif
