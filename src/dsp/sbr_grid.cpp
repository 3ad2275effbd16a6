#include "dsp/sbr_grid.h"

namespace aurivane {

namespace {

bool RelativeBorderOk(int r) { return r >= 2 && r <= 8 && (r & 1) == 0; }

bool FieldsFitSyntax(const SbrGridFields& f) {
    const auto bit = [](int v) { return v == 0 || v == 1; };
    switch (f.frameClass) {
        case kFixFix:
            return (f.numEnvelopes == 1 || f.numEnvelopes == 2 || f.numEnvelopes == 4) && bit(f.freqResFixed);
        case kFixVar:
            if (f.varBorder0 < kSbrTimeSlots || f.varBorder0 > kSbrTimeSlots + 3) return false;
            break;
        case kVarFix:
            if (f.varBorder0 < 0 || f.varBorder0 > 3) return false;
            break;
        case kVarVar:
            if (f.varBorder0 < 0 || f.varBorder0 > 3) return false;
            if (f.varBorder1 < kSbrTimeSlots || f.varBorder1 > kSbrTimeSlots + 3) return false;
            if (f.numRel1 < 0 || f.numRel1 > 3 || f.numRel0 + f.numRel1 > kSbrMaxEnvelopes - 1) return false;
            for (int r = 0; r < f.numRel1; ++r)
                if (!RelativeBorderOk(f.rel1[r])) return false;
            break;
        default: return false;
    }
    if (f.numRel0 < 0 || f.numRel0 > 3) return false;
    for (int r = 0; r < f.numRel0; ++r)
        if (!RelativeBorderOk(f.rel0[r])) return false;
    const int numEnv = f.numRel0 + (f.frameClass == kVarVar ? f.numRel1 : 0) + 1;
    if (f.pointer < 0 || f.pointer > numEnv) return false;
    for (int l = 0; l < numEnv; ++l)
        if (!bit(f.freqRes[l])) return false;
    return true;
}

}  // namespace

int SbrGridPointerBits(int numEnvelopes) {
    int bits = 0;
    while ((1 << bits) < numEnvelopes + 1) ++bits;
    return bits;
}

bool SbrFrameInfoValid(const SbrFrameInfo& g) {
    const int numEnv = g.numEnvelopes;
    if (numEnv < 1 || numEnv > kSbrMaxEnvelopes) return false;
    const int numNoise = g.numNoiseEnvelopes;
    if (numNoise < 1 || numNoise > 2 || (numNoise == 2) != (numEnv > 1)) return false;
    if (g.borders[0] < 0 || g.borders[0] > 3) return false;
    if (g.borders[numEnv] < kSbrTimeSlots || g.borders[numEnv] > kSbrTimeSlots + 3) return false;
    for (int l = 1; l <= numEnv; ++l)
        if (g.borders[l] <= g.borders[l - 1]) return false;
    if (g.noiseBorders[0] != g.borders[0] || g.noiseBorders[numNoise] != g.borders[numEnv]) return false;
    for (int q = 1; q <= numNoise; ++q) {
        if (g.noiseBorders[q] <= g.noiseBorders[q - 1]) return false;
        bool member = false;
        for (int l = 0; l <= numEnv; ++l) member |= g.noiseBorders[q] == g.borders[l];
        if (!member) return false;
    }
    return true;
}

bool SbrDeriveFrameInfo(const SbrGridFields& f, SbrFrameInfo* g) {
    if (!FieldsFitSyntax(f)) return false;
    int absLead = 0, absTrail = kSbrTimeSlots, nRelLead = 0, nRelTrail = 0;
    const int32_t* relLead = f.rel0;
    const int32_t* relTrail = f.rel1;
    int32_t fixRel[3];
    int numEnv;
    switch (f.frameClass) {
        case kFixFix:
            numEnv = f.numEnvelopes;
            nRelLead = numEnv - 1;
            for (int l = 0; l < nRelLead; ++l) fixRel[l] = kSbrTimeSlots / numEnv;
            relLead = fixRel;
            for (int l = 0; l < numEnv; ++l) g->freqRes[l] = f.freqResFixed;
            break;
        case kFixVar:
            // Borders count back from bs_var_bord_1; the resolutions come last envelope first.
            absTrail = f.varBorder0;
            nRelTrail = f.numRel0;
            relTrail = f.rel0;
            numEnv = nRelTrail + 1;
            for (int l = 0; l < numEnv; ++l) g->freqRes[numEnv - 1 - l] = f.freqRes[l];
            break;
        case kVarFix:
            absLead = f.varBorder0;
            nRelLead = f.numRel0;
            numEnv = nRelLead + 1;
            for (int l = 0; l < numEnv; ++l) g->freqRes[l] = f.freqRes[l];
            break;
        default:
            absLead = f.varBorder0;
            absTrail = f.varBorder1;
            nRelLead = f.numRel0;
            nRelTrail = f.numRel1;
            numEnv = nRelLead + nRelTrail + 1;
            for (int l = 0; l < numEnv; ++l) g->freqRes[l] = f.freqRes[l];
            break;
    }
    g->numEnvelopes = numEnv;
    g->numNoiseEnvelopes = numEnv > 1 ? 2 : 1;
    g->borders[0] = absLead;
    g->borders[numEnv] = absTrail;
    for (int l = 1; l <= nRelLead; ++l) g->borders[l] = g->borders[l - 1] + relLead[l - 1];
    for (int i = 0; i < nRelTrail; ++i) g->borders[numEnv - 1 - i] = g->borders[numEnv - i] - relTrail[i];

    const int p = f.pointer;
    int middle;
    switch (f.frameClass) {
        case kFixFix: middle = numEnv / 2; break;
        case kVarFix: middle = p == 0 ? 1 : (p == 1 ? numEnv - 1 : p - 1); break;
        default: middle = p > 1 ? numEnv + 1 - p : numEnv - 1; break;
    }
    g->noiseBorders[0] = g->borders[0];
    if (numEnv == 1) {
        g->noiseBorders[1] = g->borders[1];
        g->noiseBorders[2] = g->borders[1];
    } else {
        if (middle < 1 || middle >= numEnv) return false;
        g->noiseBorders[1] = g->borders[middle];
        g->noiseBorders[2] = g->borders[numEnv];
    }
    switch (f.frameClass) {
        case kFixFix: g->shortEnvelope = -1; break;
        case kVarFix: g->shortEnvelope = p > 1 ? p - 1 : -1; break;
        default: g->shortEnvelope = p > 0 ? numEnv + 1 - p : -1; break;
    }
    return SbrFrameInfoValid(*g);
}

}  // namespace aurivane
