// Bounded MSB-first reader over one stored SBR payload. Reads past the limit
// yield zero bits and mark the reader as overrun, so hostile payloads can
// never reach memory outside the entry.
#ifndef AURIVANE_AACDEC_SBR_BIT_READER_H
#define AURIVANE_AACDEC_SBR_BIT_READER_H

#include <cstdint>

#include "dsp/sbr_tables.h"

namespace aurivane {

struct SbrBitReader {
    const uint8_t* data = nullptr;
    int32_t limitBits = 0;
    int32_t position = 0;
    bool overrun = false;

    void Init(const uint8_t* bytes, int32_t bits) {
        data = bytes;
        limitBits = bits < 0 ? 0 : bits;
        position = 0;
        overrun = false;
    }
    int32_t Remaining() const { return limitBits - position; }
    uint32_t Bit() {
        if (position >= limitBits) {
            overrun = true;
            ++position;
            return 0;
        }
        uint32_t b = (data[position >> 3] >> (7 - (position & 7))) & 1u;
        ++position;
        return b;
    }
    uint32_t Read(int width) {
        uint32_t v = 0;
        for (int i = 0; i < width; ++i) v = (v << 1) | Bit();
        return v;
    }
    void Skip(int32_t bits) {
        if (bits <= 0) return;
        if (bits > limitBits - position) {
            overrun = position + bits > limitBits;
            position = limitBits;
            return;
        }
        position += bits;
    }
    // Decodes one codeword; returns the signed value (index - lav).
    int Huffman(const HuffmanBook& book) {
        int node = 0;
        for (int depth = 0; depth < 32; ++depth) {
            int next = book.tree[node][Bit()];
            if (next < 0) return -next - 1 - book.lav;
            node = next;
        }
        overrun = true;
        return 0;
    }
};

}  // namespace aurivane

#endif
