// Reader of ADTS (audio data transport stream) framing around AAC raw data
// blocks. Works on a whole file image held by the caller; never reads
// outside it. Junk between frames is skipped by searching for the next
// plausible header; a frame cut short by the end of the data ends the stream.
#ifndef AURIVANE_TOOLS_ADTS_READER_H
#define AURIVANE_TOOLS_ADTS_READER_H

#include <array>
#include <cstddef>
#include <cstdint>

namespace aurivane {

inline constexpr std::size_t kAdtsHeaderBytes = 7;  // fixed + variable header

// Sampling rate of a sampling_frequency_index, 0 for the reserved 13..15.
int AdtsSampleRate(int samplingIndex);
// The index of a rate, -1 when the rate has none.
int AdtsSamplingIndex(int sampleRate);

struct AdtsHeader {
    bool mpeg2 = false;       // ID bit: 1 = MPEG-2, 0 = MPEG-4
    int profile = 0;          // profile_ObjectType: 1 = low complexity (object type 2)
    int samplingIndex = 0;    // sampling_frequency_index
    int sampleRate = 0;       // from the index
    int channelConfig = 0;    // channel_configuration (0 = signalled in-band)
    bool crcPresent = false;  // protection_absent == 0
    int frameLength = 0;      // aac_frame_length: header, CRC words and blocks, in bytes
    int bufferFullness = 0;   // adts_buffer_fullness (0x7FF = variable rate)
    int rawBlocks = 1;        // number_of_raw_data_blocks_in_frame + 1

    // Object type in the MPEG-4 numbering (2 = AAC-LC).
    int ObjectType() const { return profile + 1; }
};

// Parses the 7 header bytes at `data` (which must hold at least that many).
// Fails on a missing syncword, a layer other than 0, a reserved sampling
// index or a frame length too small to hold the header and its CRC words.
bool ParseAdtsHeader(const uint8_t* data, std::size_t size, AdtsHeader* header);

struct AdtsBlock {
    const uint8_t* data = nullptr;
    std::size_t size = 0;
};

struct AdtsFrame {
    AdtsHeader header;
    std::size_t offset = 0;  // of the header in the stream
    // Everything after the header (and the header CRC words): the raw data
    // blocks, with their CRC words when crcPresent.
    AdtsBlock payload;
    // The blocks one by one. Without CRC a frame of several blocks has no
    // block positions: then blocksDelimited is false and blocks[0] is the
    // whole payload, which a decoder consumes block after block.
    std::array<AdtsBlock, 4> blocks{};
    int blockCount = 0;
    bool blocksDelimited = true;
};

class AdtsReader {
public:
    AdtsReader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    // The next whole frame; false at the end of the data or on a frame that
    // the data cuts short.
    bool Next(AdtsFrame* frame);

    std::size_t SkippedBytes() const { return skipped_; }  // junk passed over
    bool Truncated() const { return truncated_; }          // the data ended inside a frame
    std::size_t Position() const { return pos_; }

private:
    bool Plausible(std::size_t at, AdtsHeader* header) const;

    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    std::size_t skipped_ = 0;
    bool truncated_ = false;
    bool synced_ = false;  // the previous frame ended where this one begins
};

}  // namespace aurivane

#endif
