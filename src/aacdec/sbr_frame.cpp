#include "aacdec/sbr_frame.h"

namespace aurivane {

namespace {

// The decoder keeps its own grid record; the derivation is shared with the coder.
SbrFrameInfo ToFrameInfo(const SbrGrid& g) {
    SbrFrameInfo info = {};
    info.numEnvelopes = g.numEnv;
    info.numNoiseEnvelopes = g.numNoise;
    for (int l = 0; l <= kSbrMaxEnvelopes && l <= g.numEnv; ++l) info.borders[l] = g.tE[l];
    for (int q = 0; q < 3 && q <= g.numNoise; ++q) info.noiseBorders[q] = g.tQ[q];
    return info;
}

}  // namespace

bool SbrGridValid(const SbrGrid& g) {
    if (g.numEnv < 1 || g.numEnv > kSbrMaxEnvelopes || g.numNoise < 1 || g.numNoise > 2) return false;
    return SbrFrameInfoValid(ToFrameInfo(g));
}

bool SbrReadGrid(SbrBitReader& br, SbrGrid* g) {
    SbrGridFields f = {};
    f.frameClass = static_cast<int>(br.Read(2));
    const auto readRel = [&br](int n, int32_t* rel) {
        for (int r = 0; r < n; ++r) rel[r] = 2 * static_cast<int>(br.Read(2)) + 2;
    };
    int numEnv;
    switch (f.frameClass) {
        case kFixFix:
            f.numEnvelopes = 1 << br.Read(2);
            if (f.numEnvelopes > 4) return false;
            f.freqResFixed = static_cast<int>(br.Read(1));
            numEnv = f.numEnvelopes;
            break;
        case kFixVar:
        case kVarFix:
            f.varBorder0 = static_cast<int>(br.Read(2)) + (f.frameClass == kFixVar ? kSbrTimeSlots : 0);
            f.numRel0 = static_cast<int>(br.Read(2));
            numEnv = f.numRel0 + 1;
            readRel(f.numRel0, f.rel0);
            break;
        default:
            f.varBorder0 = static_cast<int>(br.Read(2));
            f.varBorder1 = static_cast<int>(br.Read(2)) + kSbrTimeSlots;
            f.numRel0 = static_cast<int>(br.Read(2));
            f.numRel1 = static_cast<int>(br.Read(2));
            numEnv = f.numRel0 + f.numRel1 + 1;
            if (numEnv > kSbrMaxEnvelopes) return false;
            readRel(f.numRel0, f.rel0);
            readRel(f.numRel1, f.rel1);
            break;
    }
    if (f.frameClass != kFixFix) {
        f.pointer = static_cast<int>(br.Read(SbrGridPointerBits(numEnv)));
        for (int l = 0; l < numEnv; ++l) f.freqRes[l] = static_cast<int>(br.Read(1));
    }
    SbrFrameInfo info;
    if (!SbrDeriveFrameInfo(f, &info)) return false;
    g->frameClass = f.frameClass;
    g->pointer = f.pointer;
    g->numEnv = info.numEnvelopes;
    g->numNoise = info.numNoiseEnvelopes;
    for (int l = 0; l <= info.numEnvelopes; ++l) g->tE[l] = info.borders[l];
    for (int l = 0; l < info.numEnvelopes; ++l) g->freqRes[l] = info.freqRes[l];
    for (int q = 0; q <= info.numNoiseEnvelopes; ++q) g->tQ[q] = info.noiseBorders[q];
    g->transientEnv = info.shortEnvelope;
    return true;
}

void SbrReadDtdf(SbrBitReader& br, SbrFrameData* f) {
    for (int l = 0; l < f->grid.numEnv; ++l) f->dfEnv[l] = static_cast<int>(br.Read(1));
    for (int q = 0; q < f->grid.numNoise; ++q) f->dfNoise[q] = static_cast<int>(br.Read(1));
}

void SbrReadInvf(SbrBitReader& br, int nQ, SbrFrameData* f) {
    for (int q = 0; q < nQ; ++q) f->invfMode[q] = static_cast<int>(br.Read(2));
}

bool SbrReadEnvelope(SbrBitReader& br, const SbrFreqTables& t, bool balance, SbrFrameData* f) {
    const int res3 = f->ampRes;
    const HuffmanBook* tBook;
    const HuffmanBook* fBook;
    int startBits;
    if (balance) {
        tBook = &kSbrHuffmanBooks[res3 ? kSbrBookTEnvBal30 : kSbrBookTEnvBal15];
        fBook = &kSbrHuffmanBooks[res3 ? kSbrBookFEnvBal30 : kSbrBookFEnvBal15];
        startBits = res3 ? 5 : 6;
    } else {
        tBook = &kSbrHuffmanBooks[res3 ? kSbrBookTEnv30 : kSbrBookTEnv15];
        fBook = &kSbrHuffmanBooks[res3 ? kSbrBookFEnv30 : kSbrBookFEnv15];
        startBits = res3 ? 6 : 7;
    }
    int total = 0;
    for (int l = 0; l < f->grid.numEnv; ++l) {
        const int nBands = t.n[f->grid.freqRes[l]];
        total += nBands;
        if (total > 240) return false;
        if (f->dfEnv[l] == 0) {
            f->env[l][0] = static_cast<int>(br.Read(startBits));
            for (int k = 1; k < nBands; ++k) f->env[l][k] = br.Huffman(*fBook);
        } else {
            for (int k = 0; k < nBands; ++k) f->env[l][k] = br.Huffman(*tBook);
        }
        if (br.overrun) return false;
    }
    return true;
}

void SbrReadNoise(SbrBitReader& br, const SbrFreqTables& t, bool balance, SbrFrameData* f) {
    const HuffmanBook& tBook = kSbrHuffmanBooks[balance ? kSbrBookTNoiseBal30 : kSbrBookTNoise30];
    const HuffmanBook& fBook = kSbrHuffmanBooks[balance ? kSbrBookFEnvBal30 : kSbrBookFEnv30];
    for (int q = 0; q < f->grid.numNoise; ++q) {
        if (f->dfNoise[q] == 0) {
            f->noise[q][0] = static_cast<int>(br.Read(5));
            for (int k = 1; k < t.nQ; ++k) f->noise[q][k] = br.Huffman(fBook);
        } else {
            for (int k = 0; k < t.nQ; ++k) f->noise[q][k] = br.Huffman(tBook);
        }
    }
}

void SbrReadSinusoidal(SbrBitReader& br, const SbrFreqTables& t, SbrFrameData* f) {
    f->addHarmonicFlag = static_cast<int>(br.Read(1));
    for (int k = 0; k < t.n[1]; ++k) f->addHarmonic[k] = f->addHarmonicFlag ? static_cast<int>(br.Read(1)) : 0;
}

}  // namespace aurivane
