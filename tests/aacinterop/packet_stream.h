// AacPacketStream records from ADTS or generated blocks, and decoding them
// through the engine's AacDecoder object as a host does.
#ifndef AURIVANE_TESTS_AACINTEROP_PACKET_STREAM_H
#define AURIVANE_TESTS_AACINTEROP_PACKET_STREAM_H

#include <cstdint>
#include <vector>

namespace aurivane::aactest {

// [length][block] records; false when a block does not fit (over 255 bytes).
bool ToPacketStream(const std::vector<std::vector<uint8_t>>& blocks, std::vector<uint8_t>* out);
// The raw data blocks of an ADTS stream (one per frame).
std::vector<std::vector<uint8_t>> AdtsBlocks(const std::vector<uint8_t>& adts);

struct FilterRun {
    std::vector<int16_t> pcm;      // everything delivered, interleaved stereo
    std::vector<int> results;      // Process result per call
    std::vector<uint32_t> deliveries;  // byte count of each sink call
};

// Opens a fresh AacDecoder and feeds `stream` in calls of `recordsPerCall`
// whole records (0: the whole stream in one call).
bool DecodeWithFilter(const std::vector<uint8_t>& stream, int recordsPerCall, FilterRun* run);

}  // namespace aurivane::aactest

#endif
