// Hand-made raw data blocks for targeted core decoder tests: an ICS is
// described by its fields and written with the standard codebooks.
#ifndef AURIVANE_TESTS_AACDEC_AAC_BLOCK_WRITER_H
#define AURIVANE_TESTS_AACDEC_AAC_BLOCK_WRITER_H

#include "aac_test_util.h"

#include <functional>
#include <vector>

namespace aurivane::aactest {

struct IcsSpec {
    int windowSequence = 0;
    int windowShape = 0;
    int maxSfb = 0;
    int grouping = 0x7F;  // short windows: one group of eight by default
    int globalGain = 100;
    // Per band below maxSfb (short windows: group * maxSfb + band).
    std::vector<int> codebook;
    std::vector<int> scalefactor;  // absolute scalefactor of bands with codebook 1..11
    std::vector<int> quant = std::vector<int>(1024, 0);  // long: line; short: window * 128 + line
    // pulse_data_present, tns_data_present and gain_control_data_present
    // and their data; by default three zero bits.
    std::function<void(BitWriter&)> tools;
    // Replaces the section data when set.
    std::function<void(BitWriter&)> sections;
};

// Band offsets of the 22050 Hz tables.
const std::vector<int>& LongOffsets22050();
const std::vector<int>& ShortOffsets22050();

void WriteIcsInfo(BitWriter& w, const IcsSpec& s);
void WriteIcs(BitWriter& w, const IcsSpec& s, bool withIcsInfo);
void WriteEnd(BitWriter& w);  // ID_END and zero bits to the byte boundary

std::vector<uint8_t> SceBlock(const IcsSpec& s);
// A long-window SCE with max_sfb 0 (silence).
std::vector<uint8_t> SilentSce();
// A long-window SCE whose band 0 carries `value` at line 0 (codebook 11).
std::vector<uint8_t> SceWithLine(int value, int globalGain = 100);

}  // namespace aurivane::aactest

#endif
