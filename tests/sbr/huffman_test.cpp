// The generated SBR and PS decoding trees decode every codeword of the
// normative JSON tables to its value, consuming exactly its length.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dsp/ps_tables.h"
#include "aacdec/sbr_bit_reader.h"
#include "dsp/sbr_tables.h"
#include "sbr/sbr_test_util.h"

namespace aurivane {
namespace {

void CheckBook(const std::string& json, const std::string& name, const HuffmanBook& book, int valueOffset) {
    SCOPED_TRACE(name);
    const std::vector<double> lengths = sbrtest::ArrayOf(json, name, "lengths");
    const std::vector<double> codes = sbrtest::ArrayOf(json, name, "codes");
    ASSERT_FALSE(lengths.empty());
    ASSERT_EQ(lengths.size(), codes.size());
    ASSERT_EQ(static_cast<int>(lengths.size()), book.count);
    for (size_t i = 0; i < lengths.size(); ++i) {
        sbrtest::BitWriter w;
        w.Put(static_cast<uint32_t>(codes[i]), static_cast<int>(lengths[i]));
        w.Put(0x5A5A5A, 24);  // trailing bits must stay unread
        const std::vector<uint8_t> bytes = w.Bytes();
        SbrBitReader br;
        br.Init(bytes.data(), w.Bits());
        EXPECT_EQ(br.Huffman(book), static_cast<int>(i) - valueOffset) << "index " << i;
        EXPECT_EQ(br.position, static_cast<int>(lengths[i])) << "index " << i;
    }
}

TEST(SbrHuffman, EverySbrCodewordDecodes) {
    const std::string json = sbrtest::ReadTable("sbr_huffman.json");
    if (json.empty()) GTEST_SKIP() << "shared tables not found under " << AURIVANE_SHARED_DIR;
    const char* names[kSbrBookCount] = {"t_huffman_env_1_5dB",     "f_huffman_env_1_5dB",
                                        "t_huffman_env_bal_1_5dB", "f_huffman_env_bal_1_5dB",
                                        "t_huffman_env_3_0dB",     "f_huffman_env_3_0dB",
                                        "t_huffman_env_bal_3_0dB", "f_huffman_env_bal_3_0dB",
                                        "t_huffman_noise_3_0dB",   "t_huffman_noise_bal_3_0dB"};
    const int lavs[kSbrBookCount] = {60, 60, 24, 24, 31, 31, 12, 12, 31, 12};
    for (int b = 0; b < kSbrBookCount; ++b) {
        EXPECT_EQ(kSbrHuffmanBooks[b].lav, lavs[b]);
        CheckBook(json, names[b], kSbrHuffmanBooks[b], lavs[b]);
    }
}

TEST(SbrHuffman, EveryPsCodewordDecodes) {
    const std::string json = sbrtest::ReadTable("ps_tables.json");
    if (json.empty()) GTEST_SKIP() << "shared tables not found under " << AURIVANE_SHARED_DIR;
    const char* names[kPsBookCount] = {"iid_df", "iid_dt", "iid_fine_df", "iid_fine_dt", "icc_df",
                                       "icc_dt", "ipd_df", "ipd_dt",      "opd_df",      "opd_dt"};
    const int lavs[kPsBookCount] = {14, 14, 30, 30, 7, 7, 0, 0, 0, 0};
    for (int b = 0; b < kPsBookCount; ++b) {
        EXPECT_EQ(kPsHuffmanBooks[b].lav, lavs[b]);
        CheckBook(json, names[b], kPsHuffmanBooks[b], lavs[b]);
    }
}

TEST(SbrHuffman, ReadingPastTheLimitYieldsZerosAndFlagsOverrun) {
    const uint8_t byte = 0xFF;
    SbrBitReader br;
    br.Init(&byte, 3);
    EXPECT_EQ(br.Read(3), 7u);
    EXPECT_FALSE(br.overrun);
    EXPECT_EQ(br.Read(4), 0u);
    EXPECT_TRUE(br.overrun);
}

}  // namespace
}  // namespace aurivane
