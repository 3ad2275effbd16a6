#include "aac_block_writer.h"

#include "support/aac_block_gen.h"

#include <cstdlib>

namespace aurivane::aactest {

namespace {

struct BookShape {
    int dimension;
    bool isSigned;
    int modulo;
};

BookShape Shape(int cb) {
    static const BookShape kShapes[12] = {{0, false, 0}, {4, true, 3},  {4, true, 3},   {4, false, 3},
                                          {4, false, 3}, {2, true, 9},  {2, true, 9},   {2, false, 8},
                                          {2, false, 8}, {2, false, 13}, {2, false, 13}, {2, false, 17}};
    return kShapes[cb];
}

void Put(BitWriter& w, const testgen::HuffCode& c) { w.Put(c.code, c.length); }

std::vector<int> Offsets(const testgen::SwbTables& t, bool isShort) {
    const int* p = isShort ? t.shortOffsets : t.longOffsets;
    const int n = isShort ? t.shortBands : t.longBands;
    return std::vector<int>(p, p + n + 1);
}

int NumGroups(const IcsSpec& s, std::vector<int>* lengths) {
    lengths->assign(1, 1);
    if (s.windowSequence != 2) return 1;
    for (int i = 6; i >= 0; --i) {
        if ((s.grouping >> i) & 1) ++lengths->back(); else lengths->push_back(1);
    }
    return static_cast<int>(lengths->size());
}

void WriteSections(BitWriter& w, const IcsSpec& s, int groups) {
    const bool isShort = s.windowSequence == 2;
    const int bits = isShort ? 3 : 5;
    const int esc = isShort ? 7 : 31;
    for (int g = 0; g < groups; ++g) {
        int b = 0;
        while (b < s.maxSfb) {
            const int cb = s.codebook[g * s.maxSfb + b];
            int end = b + 1;
            while (end < s.maxSfb && s.codebook[g * s.maxSfb + end] == cb) ++end;
            w.Put(static_cast<uint32_t>(cb), 4);
            int len = end - b;
            while (len >= esc) {
                w.Put(static_cast<uint32_t>(esc), bits);
                len -= esc;
            }
            w.Put(static_cast<uint32_t>(len), bits);
            b = end;
        }
    }
}

void WriteEscape(BitWriter& w, int magnitude) {
    int n = 4;
    while ((1 << (n + 1)) <= magnitude) ++n;
    for (int i = 4; i < n; ++i) w.Put(1, 1);
    w.Put(0, 1);
    w.Put(static_cast<uint32_t>(magnitude - (1 << n)), n);
}

void WriteTuple(BitWriter& w, int cb, const int* v) {
    const BookShape shape = Shape(cb);
    int index = 0;
    int mags[4];
    for (int i = 0; i < shape.dimension; ++i) {
        mags[i] = std::abs(v[i]);
        int digit = shape.isSigned ? v[i] + (shape.modulo - 1) / 2 : (cb == 11 && mags[i] > 15 ? 16 : mags[i]);
        index = index * shape.modulo + digit;
    }
    Put(w, testgen::SpectralCode(cb, index));
    if (!shape.isSigned) {
        for (int i = 0; i < shape.dimension; ++i)
            if (v[i] != 0) w.Put(v[i] < 0 ? 1 : 0, 1);
        if (cb == 11)
            for (int i = 0; i < 2; ++i)
                if (mags[i] > 15) WriteEscape(w, mags[i]);
    }
}

}  // namespace

const std::vector<int>& LongOffsets22050() {
    static const std::vector<int> v = Offsets(testgen::kSwbBySamplingIndex[7], false);
    return v;
}

const std::vector<int>& ShortOffsets22050() {
    static const std::vector<int> v = Offsets(testgen::kSwbBySamplingIndex[7], true);
    return v;
}

void WriteIcsInfo(BitWriter& w, const IcsSpec& s) {
    w.Put(0, 1);
    w.Put(static_cast<uint32_t>(s.windowSequence), 2);
    w.Put(static_cast<uint32_t>(s.windowShape), 1);
    if (s.windowSequence == 2) {
        w.Put(static_cast<uint32_t>(s.maxSfb), 4);
        w.Put(static_cast<uint32_t>(s.grouping), 7);
    } else {
        w.Put(static_cast<uint32_t>(s.maxSfb), 6);
        w.Put(0, 1);  // predictor_data_present
    }
}

void WriteIcs(BitWriter& w, const IcsSpec& s, bool withIcsInfo) {
    std::vector<int> groupLength;
    const int groups = NumGroups(s, &groupLength);
    const bool isShort = s.windowSequence == 2;
    const std::vector<int>& off = isShort ? ShortOffsets22050() : LongOffsets22050();
    w.Put(static_cast<uint32_t>(s.globalGain), 8);
    if (withIcsInfo) WriteIcsInfo(w, s);
    if (s.sections) s.sections(w); else WriteSections(w, s, groups);
    int last = s.globalGain;
    for (int g = 0; g < groups; ++g) {
        for (int b = 0; b < s.maxSfb; ++b) {
            const int cb = s.codebook[g * s.maxSfb + b];
            if (cb < 1 || cb > 11) continue;
            const int sf = s.scalefactor[g * s.maxSfb + b];
            Put(w, testgen::ScalefactorCode(sf - last + 60));
            last = sf;
        }
    }
    if (s.tools) s.tools(w); else w.Put(0, 3);
    int window = 0;
    for (int g = 0; g < groups; ++g) {
        for (int b = 0; b < s.maxSfb; ++b) {
            const int cb = s.codebook[g * s.maxSfb + b];
            if (cb < 1 || cb > 11) continue;
            const int dim = Shape(cb).dimension;
            for (int win = 0; win < groupLength[g]; ++win) {
                const int base = isShort ? (window + win) * 128 : 0;
                for (int k = off[b]; k < off[b + 1]; k += dim) WriteTuple(w, cb, &s.quant[base + k]);
            }
        }
        window += groupLength[g];
    }
}

void WriteEnd(BitWriter& w) {
    w.Put(7, 3);
    w.Align();
}

std::vector<uint8_t> SceBlock(const IcsSpec& s) {
    BitWriter w;
    w.Put(0, 3);
    w.Put(0, 4);
    WriteIcs(w, s, true);
    WriteEnd(w);
    return w.bytes;
}

std::vector<uint8_t> SilentSce() { return SceBlock(IcsSpec{}); }

std::vector<uint8_t> SceWithLine(int value, int globalGain) {
    IcsSpec s;
    s.maxSfb = 1;
    s.globalGain = globalGain;
    s.codebook = {11};
    s.scalefactor = {globalGain};
    s.quant[0] = value;
    return SceBlock(s);
}

}  // namespace aurivane::aactest
