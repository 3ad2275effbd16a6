// Generator of random but valid AAC-LC raw data blocks (one SCE or one CPE
// per block), for proving the syntax paths that real encoders rarely take:
// every spectral codebook including escapes, pulse data, TNS filters of all
// orders and both directions, M/S and intensity bands, noise substitution,
// every window sequence and grouping, data stream and fill elements.
#ifndef AURIVANE_TESTS_SUPPORT_AAC_BLOCK_GEN_H
#define AURIVANE_TESTS_SUPPORT_AAC_BLOCK_GEN_H

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace aurivane::testgen {

struct HuffCode {
    uint32_t code;  // right-aligned, sent most significant bit first
    int length;
};

// Code words of the noiseless coding books, read from the codec's own
// encoder tables (indexed as in ISO/IEC 14496-3 Tables 4.A.1 to 4.A.12).
HuffCode ScalefactorCode(int index);       // index = delta + 60
HuffCode SpectralCode(int book, int index);  // books 1 to 11

struct SwbTables {
    const int* longOffsets;  // longBands + 1 entries, last 1024
    int longBands;
    const int* shortOffsets;  // shortBands + 1 entries, last 128
    int shortBands;
};
extern const SwbTables kSwbBySamplingIndex[12];  // by sampling_frequency_index 0..11

// MSB-first bit writer into a growing byte vector.
class BitWriter {
public:
    void Put(uint32_t value, int width);  // low `width` bits, width 0..32
    void Put(const HuffCode& c) { Put(c.code, c.length); }
    void AlignZero();                      // zero bits up to the next byte boundary
    std::size_t BitCount() const { return bits_; }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    std::size_t bits_ = 0;
};

// Window sequences of ics_info.
enum WindowSequence { kOnlyLong = 0, kLongStart = 1, kEightShort = 2, kLongStop = 3 };

struct BlockGenOptions {
    int channels = 1;         // 1: single channel element, 2: channel pair element
    int samplingIndex = 7;    // sampling_frequency_index (7 = 22050 Hz)
    bool pns = false;         // noise bands (codebook 13): random output, compare by energy
    bool intensity = true;    // codebooks 14/15 in channel 1 of a common-window pair
    bool midSide = true;      // ms_mask_present 1 and 2
    bool tns = true;
    // Highest TNS order drawn (the low-complexity limits are 12 long, 7 short).
    // High orders with large coefficients make steep all-pole filters in
    // which decoders legitimately drift apart by their arithmetic.
    int tnsMaxOrder = 12;
    bool pulses = true;
    bool escapes = true;      // codebook 11 values beyond 15
    bool extraElements = true;  // data stream and fill elements before the end element
    // Forced window sequence, or -1 for a random legal sequence.
    int forcedWindow = -1;
    // Base level: global_gain is drawn around it (scalefactor 100 = unit step).
    int levelGain = 120;
    // Blocks longer than this are drawn again (255 fits a packet-stream record).
    std::size_t maxBlockBytes = 8191;
};

// What the block holds, for checks that the generator covers what it claims.
struct BlockInfo {
    int windowSequence = 0;
    int groups = 1;
    bool commonWindow = false;
    int msMaskPresent = 0;
    uint32_t codebooksUsed = 0;  // bit n set: codebook n appears in a section
    int pulseCount = 0;
    int tnsFilters = 0;
    uint32_t tnsOrdersUsed = 0;  // bit n set: a filter of order n appears
    bool tnsDownward = false;
    bool escapeUsed = false;
    int maxEscapeMagnitude = 0;
};

class AacBlockGenerator {
public:
    AacBlockGenerator(uint32_t seed, const BlockGenOptions& options);

    // The next raw data block, byte-aligned after its end element.
    std::vector<uint8_t> Next(BlockInfo* info = nullptr);

private:
    std::vector<uint8_t> Draw(BlockInfo* info);
    struct Ics;
    void ChooseIcsInfo(Ics* ics, int channel);
    void ChooseSections(Ics* ics, int channel, bool commonWindow);
    void WriteIcsInfo(BitWriter* w, const Ics& ics);
    void WriteIcs(BitWriter* w, Ics* ics, bool commonWindow, BlockInfo* info);
    void WriteSpectralData(BitWriter* w, const Ics& ics, BlockInfo* info);
    void WriteExtraElements(BitWriter* w);
    int NextWindowSequence();

    std::mt19937 rng_;
    BlockGenOptions opt_;
    int prevSequence_ = kOnlyLong;
    const int* longOffsets_ = nullptr;
    const int* shortOffsets_ = nullptr;
    int longBands_ = 0;
    int shortBands_ = 0;
    int tnsMaxLong_ = 0;
    int tnsMaxShort_ = 0;
};

// Wraps blocks in ADTS frames (MPEG-4, AAC-LC), one block per frame, or
// `blocksPerFrame` (1..4) per frame. With crc the CRC words are written as
// zero (decoders do not verify them by default) and frames of several blocks
// carry raw_data_block_position offsets from the first block.
std::vector<uint8_t> WrapAdts(const std::vector<std::vector<uint8_t>>& blocks, int samplingIndex,
                              int channelConfig, bool crc = false, int blocksPerFrame = 1);

}  // namespace aurivane::testgen

#endif
