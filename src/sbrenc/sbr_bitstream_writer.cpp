#include "sbrenc/sbr_bitstream_writer.h"

#include <algorithm>

#include "dsp/sbr_grid.h"
#include "dsp/sbr_tables.h"

namespace aurivane {

namespace {

constexpr int kExtensionIdPs = 2;

int Put(BitBuffer* out, int value, int width) {
    return BitBufferWrite(out, static_cast<uint32_t>(value), width);
}

int PutCode(BitBuffer* out, const HuffmanBook& book, int value) {
    const int index = std::clamp(value, -book.lav, book.lav) + book.lav;
    return BitBufferWrite(out, book.codes[index], book.lengths[index]);
}

int RelBorder(int b) { return (std::clamp(b, 2, 8) - 2) / 2; }

int WriteGrid(BitBuffer* out, const SbrGridFields& g) {
    int bits = Put(out, g.frameClass, 2);
    switch (g.frameClass) {
        case 0: {
            const int log2Env = g.numEnvelopes >= 4 ? 2 : (g.numEnvelopes >= 2 ? 1 : 0);
            bits += Put(out, log2Env, 2);
            bits += Put(out, g.freqResFixed, 1);
            break;
        }
        case 1:
        case 2: {
            const int n = std::clamp(g.numRel0, 0, 3);
            bits += Put(out, g.frameClass == 1 ? g.varBorder0 - 16 : g.varBorder0, 2);
            bits += Put(out, n, 2);
            for (int i = 0; i < n; ++i) bits += Put(out, RelBorder(g.rel0[i]), 2);
            bits += Put(out, g.pointer, SbrGridPointerBits(n + 1));
            for (int i = 0; i <= n; ++i) bits += Put(out, g.freqRes[i], 1);
            break;
        }
        default: {
            const int nA = std::clamp(g.numRel0, 0, 3);
            const int nB = std::clamp(g.numRel1, 0, 3);
            bits += Put(out, g.varBorder0, 2);
            bits += Put(out, g.varBorder1 - 16, 2);
            bits += Put(out, nA, 2);
            bits += Put(out, nB, 2);
            for (int i = 0; i < nA; ++i) bits += Put(out, RelBorder(g.rel0[i]), 2);
            for (int i = 0; i < nB; ++i) bits += Put(out, RelBorder(g.rel1[i]), 2);
            bits += Put(out, g.pointer, SbrGridPointerBits(nA + nB + 1));
            for (int i = 0; i <= nA + nB; ++i) bits += Put(out, g.freqRes[i], 1);
            break;
        }
    }
    return bits;
}

// sbr_extension with ps_data: the size counts the 2-bit extension id, the
// PS bits and the fill up to a whole byte.
int WriteExtension(BitBuffer* out, const uint8_t* psBits, int psBitCount) {
    if (psBits == nullptr || psBitCount <= 0) return Put(out, 0, 1);
    int bits = Put(out, 1, 1);
    const int cnt = (psBitCount + 2 + 7) / 8;
    if (cnt < 15) {
        bits += Put(out, cnt, 4);
    } else {
        bits += Put(out, 15, 4);
        bits += Put(out, cnt - 15, 8);
    }
    bits += Put(out, kExtensionIdPs, 2);
    int left = psBitCount;
    for (int i = 0; left > 0; ++i) {
        const int width = std::min(8, left);
        bits += Put(out, psBits[i] >> (8 - width), width);
        left -= width;
    }
    bits += Put(out, 0, cnt * 8 - 2 - psBitCount);
    return bits;
}

}  // namespace

int SbrWriteHeader(BitBuffer* out, const SbrHeaderValues* h) {
    if (h == nullptr) return Put(out, 0, 1);
    int bits = Put(out, 1, 1);
    bits += Put(out, h->ampResolution, 1);
    bits += Put(out, h->startFrequency, 4);
    bits += Put(out, h->stopFrequency, 4);
    bits += Put(out, h->xoverBand, 3);
    bits += Put(out, 0, 2);  // bs_reserved
    bits += Put(out, h->headerExtra1, 1);
    bits += Put(out, h->headerExtra2, 1);
    if (h->headerExtra1) {
        bits += Put(out, h->freqScale, 2);
        bits += Put(out, h->alterScale, 1);
        bits += Put(out, h->noiseBands, 2);
    }
    if (h->headerExtra2) {
        bits += Put(out, h->limiterBands, 2);
        bits += Put(out, h->limiterGains, 2);
        bits += Put(out, h->interpolFreq, 1);
        bits += Put(out, h->smoothingMode, 1);
    }
    return bits;
}

int SbrWriteSingleChannelElement(BitBuffer* out, const SbrHeaderValues* header, const SbrEncoderBandTables& tables,
                                 const SbrGridFields& grid, const SbrCodedChannel& coded, const SbrFrameValues& values,
                                 const uint8_t* psBits, int psBitCount) {
    int bits = SbrWriteHeader(out, header);
    bits += Put(out, 0, 1);  // bs_data_extra
    bits += WriteGrid(out, grid);
    for (int e = 0; e < coded.numEnvelopes; ++e) bits += Put(out, coded.dfEnv[e], 1);
    for (int q = 0; q < coded.numNoiseEnvelopes; ++q) bits += Put(out, coded.dfNoise[q], 1);
    for (int q = 0; q < tables.nNoise; ++q) bits += Put(out, values.invfMode[q], 2);

    const HuffmanBook& fEnv = kSbrHuffmanBooks[coded.ampRes ? kSbrBookFEnv30 : kSbrBookFEnv15];
    const HuffmanBook& tEnv = kSbrHuffmanBooks[coded.ampRes ? kSbrBookTEnv30 : kSbrBookTEnv15];
    const int startBits = coded.ampRes ? 6 : 7;
    for (int e = 0; e < coded.numEnvelopes; ++e) {
        const int n = coded.freqRes[e] ? tables.nHigh : tables.nLow;
        if (coded.dfEnv[e]) {
            for (int b = 0; b < n; ++b) bits += PutCode(out, tEnv, coded.env[e][b]);
        } else {
            bits += Put(out, std::clamp(coded.env[e][0], 0, (1 << startBits) - 1), startBits);
            for (int b = 1; b < n; ++b) bits += PutCode(out, fEnv, coded.env[e][b]);
        }
    }
    const HuffmanBook& fNoise = kSbrHuffmanBooks[kSbrBookFEnv30];
    const HuffmanBook& tNoise = kSbrHuffmanBooks[kSbrBookTNoise30];
    for (int q = 0; q < coded.numNoiseEnvelopes; ++q) {
        if (coded.dfNoise[q]) {
            for (int b = 0; b < tables.nNoise; ++b) bits += PutCode(out, tNoise, coded.noise[q][b]);
        } else {
            bits += Put(out, std::clamp(coded.noise[q][0], 0, 31), 5);
            for (int b = 1; b < tables.nNoise; ++b) bits += PutCode(out, fNoise, coded.noise[q][b]);
        }
    }
    bits += Put(out, values.addHarmonicFlag ? 1 : 0, 1);
    if (values.addHarmonicFlag)
        for (int b = 0; b < tables.nHigh; ++b) bits += Put(out, values.addHarmonic[b] ? 1 : 0, 1);
    bits += WriteExtension(out, psBits, psBitCount);
    return bits;
}

}  // namespace aurivane
