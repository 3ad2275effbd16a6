// Every codeword of every codebook, taken from the JSON transcription,
// decodes through the two-bit trees to its index's values and consumes
// exactly its length.
#include "aacdec/aac_huffman.h"
#include "aac_test_util.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <algorithm>
#include <string>
#include <vector>

namespace aurivane {
namespace {

// The integer arrays that follow each occurrence of `"key": [` in file order.
std::vector<std::vector<long>> Arrays(const std::string& text, const std::string& key) {
    std::vector<std::vector<long>> out;
    const std::string needle = "\"" + key + "\"";
    for (std::size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1)) {
        std::size_t p = text.find_first_not_of(" \t\r\n:", pos + needle.size());
        if (p == std::string::npos || text[p] != '[') continue;
        std::vector<long> values;
        ++p;
        while (p < text.size() && text[p] != ']') {
            if (text[p] == '-' || (text[p] >= '0' && text[p] <= '9')) {
                std::size_t used = 0;
                values.push_back(std::stol(text.substr(p, 24), &used));
                p += used;
            } else {
                ++p;
            }
        }
        out.push_back(values);
    }
    return out;
}

struct Books {
    std::vector<std::vector<long>> lengths, codes;
};

Books LoadBooks() {
    std::ifstream in(std::string(AURIVANE_SHARED_DIR) + "/tables/aac_huffman.json");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return Books{Arrays(text, "lengths"), Arrays(text, "codes")};
}

// Writes the codeword and a trailer, decodes, and checks the bits consumed.
template <typename Decode>
void CheckCodeword(long code, long length, Decode decode) {
    uint8_t storage[16] = {};
    BitBuffer bits;
    BitBufferCreate(&bits, storage, sizeof(storage));
    BitBufferWrite(&bits, static_cast<uint32_t>(code), static_cast<int32_t>(length));
    BitBufferWrite(&bits, 0xA5, 8);
    decode(&bits);
    ASSERT_EQ(BitBufferCount(&bits), 8) << "code " << code << " length " << length;
    ASSERT_EQ(BitBufferRead(&bits, 8), 0xA5u);
}

TEST(AacHuffman, EveryCodewordOfEveryBook) {
    const Books books = LoadBooks();
    if (books.lengths.empty()) GTEST_SKIP() << "aac_huffman.json not found under AURIVANE_SHARED_DIR";
    ASSERT_EQ(books.lengths.size(), 12u);
    ASSERT_EQ(books.codes.size(), 12u);
    // Scalefactor book first: index = delta + 60.
    ASSERT_EQ(books.lengths[0].size(), 121u);
    for (std::size_t i = 0; i < 121; ++i) {
        CheckCodeword(books.codes[0][i], books.lengths[0][i], [&](BitBuffer* b) {
            EXPECT_EQ(HuffmanDecodeScalefactor(b), static_cast<int32_t>(i));
        });
    }
    const int modulo[12] = {0, 3, 3, 3, 3, 9, 9, 8, 8, 13, 13, 17};
    const std::size_t entries[12] = {0, 81, 81, 81, 81, 81, 81, 64, 64, 169, 169, 289};
    for (int cb = 1; cb <= 11; ++cb) {
        const HuffmanCodebook& book = kSpectralCodebooks[cb];
        ASSERT_EQ(books.lengths[cb].size(), entries[cb]) << cb;
        const bool isSigned = cb <= 2 || cb == 5 || cb == 6;
        for (std::size_t i = 0; i < entries[cb]; ++i) {
            CheckCodeword(books.codes[cb][i], books.lengths[cb][i], [&](BitBuffer* b) {
                int32_t v[4];
                HuffmanDecodeSpectral(b, book, v);
                // The first value is the most significant digit of the index.
                long rest = static_cast<long>(i);
                for (int p = book.dimension - 1; p >= 0; --p) {
                    const int digit = static_cast<int>(rest % modulo[cb]);
                    rest /= modulo[cb];
                    const int expected = isSigned ? digit - (modulo[cb] - 1) / 2 : digit;
                    EXPECT_EQ(v[p], expected) << "book " << cb << " index " << i << " value " << p;
                }
            });
        }
    }
}

TEST(AacHuffman, DecodingAcrossAStreamOfCodewords) {
    // Back-to-back codewords of odd and even lengths: the pushed-back bit
    // of one codeword starts the next.
    const Books books = LoadBooks();
    if (books.lengths.empty()) GTEST_SKIP() << "aac_huffman.json not found under AURIVANE_SHARED_DIR";
    uint8_t storage[256] = {};
    BitBuffer bits;
    BitBufferCreate(&bits, storage, sizeof(storage));
    const int sequence[] = {60, 59, 61, 0, 120, 60, 60, 3, 100, 57};
    for (int index : sequence) {
        BitBufferWrite(&bits, static_cast<uint32_t>(books.codes[0][index]), static_cast<int32_t>(books.lengths[0][index]));
    }
    for (int index : sequence) EXPECT_EQ(HuffmanDecodeScalefactor(&bits), index);
    EXPECT_EQ(BitBufferCount(&bits), 0);
}

}  // namespace
}  // namespace aurivane

namespace aurivane {
namespace {

TEST(AacHuffman, CodewordsAcrossTheCircularStorageEnd) {
    // The reader peeks ahead and consumes across the end of the circular
    // storage: short and 19-bit codewords at every alignment around the
    // wrap decode as anywhere else.
    const Books books = LoadBooks();
    if (books.lengths.empty()) GTEST_SKIP() << "aac_huffman.json not found under AURIVANE_SHARED_DIR";
    const int sequence[] = {0, 60, 120, 59, 61, 3};
    for (int32_t ahead = 40; ahead < 96; ++ahead) {
        uint8_t storage[12] = {};
        BitBuffer bits;
        BitBufferCreate(&bits, storage, sizeof(storage));
        for (int32_t done = 0; done < ahead; done += 8) {
            const int32_t n = std::min(8, ahead - done);
            BitBufferWrite(&bits, 0x5A, n);
            BitBufferRead(&bits, n);
        }
        for (int index : sequence) {
            BitBufferWrite(&bits, static_cast<uint32_t>(books.codes[0][index]),
                           static_cast<int32_t>(books.lengths[0][index]));
        }
        for (int index : sequence) EXPECT_EQ(HuffmanDecodeScalefactor(&bits), index) << "ahead " << ahead;
        EXPECT_EQ(BitBufferCount(&bits), 0) << "ahead " << ahead;
    }
}

}  // namespace
}  // namespace aurivane
