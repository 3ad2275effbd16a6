#include "aacdec/sbr_frame.h"

namespace aurivane {

namespace {

constexpr int kNumTimeSlots = 16;

// ceil(log2(numEnv + 1)) bits for bs_pointer.
int PointerBits(int numEnv) {
    int bits = 0;
    while ((1 << bits) < numEnv + 1) ++bits;
    return bits;
}

}  // namespace

bool SbrGridValid(const SbrGrid& g) {
    if (g.numEnv < 1 || g.numEnv > 5) return false;
    if (g.numNoise < 1 || g.numNoise > 2 || (g.numNoise == 2) != (g.numEnv > 1)) return false;
    if (g.tE[0] < 0 || g.tE[0] > 3) return false;
    if (g.tE[g.numEnv] < kNumTimeSlots || g.tE[g.numEnv] > kNumTimeSlots + 3) return false;
    for (int l = 1; l <= g.numEnv; ++l)
        if (g.tE[l] <= g.tE[l - 1]) return false;
    if (g.tQ[0] != g.tE[0] || g.tQ[g.numNoise] != g.tE[g.numEnv]) return false;
    for (int q = 1; q <= g.numNoise; ++q) {
        if (g.tQ[q] <= g.tQ[q - 1]) return false;
        bool member = false;
        for (int l = 0; l <= g.numEnv; ++l) member |= g.tQ[q] == g.tE[l];
        if (!member) return false;
    }
    return true;
}

bool SbrReadGrid(SbrBitReader& br, SbrGrid* g) {
    g->frameClass = static_cast<int>(br.Read(2));
    int absLead = 0, absTrail = kNumTimeSlots, nRelLead = 0, nRelTrail = 0;
    int relLead[4] = {0, 0, 0, 0}, relTrail[4] = {0, 0, 0, 0};
    g->pointer = 0;
    switch (g->frameClass) {
        case kFixFix: {
            int numEnv = 1 << br.Read(2);
            if (numEnv > 4) return false;
            g->numEnv = numEnv;
            int res = static_cast<int>(br.Read(1));
            for (int l = 0; l < numEnv; ++l) g->freqRes[l] = res;
            nRelLead = numEnv - 1;
            for (int l = 0; l < nRelLead; ++l) relLead[l] = kNumTimeSlots / numEnv;
            break;
        }
        case kFixVar: {
            absTrail = static_cast<int>(br.Read(2)) + kNumTimeSlots;
            nRelTrail = static_cast<int>(br.Read(2));
            g->numEnv = nRelTrail + 1;
            for (int r = 0; r < nRelTrail; ++r) relTrail[r] = 2 * static_cast<int>(br.Read(2)) + 2;
            g->pointer = static_cast<int>(br.Read(PointerBits(g->numEnv)));
            for (int l = 0; l < g->numEnv; ++l) g->freqRes[g->numEnv - 1 - l] = static_cast<int>(br.Read(1));
            break;
        }
        case kVarFix: {
            absLead = static_cast<int>(br.Read(2));
            nRelLead = static_cast<int>(br.Read(2));
            g->numEnv = nRelLead + 1;
            for (int r = 0; r < nRelLead; ++r) relLead[r] = 2 * static_cast<int>(br.Read(2)) + 2;
            g->pointer = static_cast<int>(br.Read(PointerBits(g->numEnv)));
            for (int l = 0; l < g->numEnv; ++l) g->freqRes[l] = static_cast<int>(br.Read(1));
            break;
        }
        default: {
            absLead = static_cast<int>(br.Read(2));
            absTrail = static_cast<int>(br.Read(2)) + kNumTimeSlots;
            nRelLead = static_cast<int>(br.Read(2));
            nRelTrail = static_cast<int>(br.Read(2));
            g->numEnv = nRelLead + nRelTrail + 1;
            if (g->numEnv > 5) return false;
            for (int r = 0; r < nRelLead; ++r) relLead[r] = 2 * static_cast<int>(br.Read(2)) + 2;
            for (int r = 0; r < nRelTrail; ++r) relTrail[r] = 2 * static_cast<int>(br.Read(2)) + 2;
            g->pointer = static_cast<int>(br.Read(PointerBits(g->numEnv)));
            for (int l = 0; l < g->numEnv; ++l) g->freqRes[l] = static_cast<int>(br.Read(1));
            break;
        }
    }
    const int numEnv = g->numEnv;
    if (g->pointer > numEnv) return false;
    g->numNoise = numEnv > 1 ? 2 : 1;
    g->tE[0] = absLead;
    g->tE[numEnv] = absTrail;
    for (int l = 1; l <= nRelLead; ++l) g->tE[l] = g->tE[l - 1] + relLead[l - 1];
    for (int i = 0; i < nRelTrail; ++i) g->tE[numEnv - 1 - i] = g->tE[numEnv - i] - relTrail[i];
    int middle;
    switch (g->frameClass) {
        case kFixFix: middle = numEnv / 2; break;
        case kVarFix:
            middle = g->pointer == 0 ? 1 : (g->pointer == 1 ? numEnv - 1 : g->pointer - 1);
            break;
        default: middle = g->pointer > 1 ? numEnv + 1 - g->pointer : numEnv - 1; break;
    }
    g->tQ[0] = g->tE[0];
    if (numEnv == 1) {
        g->tQ[1] = g->tE[1];
    } else {
        if (middle < 1 || middle >= numEnv) return false;
        g->tQ[1] = g->tE[middle];
        g->tQ[2] = g->tE[numEnv];
    }
    switch (g->frameClass) {
        case kFixFix: g->transientEnv = -1; break;
        case kVarFix: g->transientEnv = g->pointer > 1 ? g->pointer - 1 : -1; break;
        default: g->transientEnv = g->pointer > 0 ? numEnv + 1 - g->pointer : -1; break;
    }
    return SbrGridValid(*g);
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
