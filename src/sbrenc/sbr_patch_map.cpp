// The patches come from the shared band-table rules, so the encoder models
// exactly the patches the decoder builds from the header.
#include "sbrenc/sbr_patch_map.h"

#include "dsp/sbr_freq_tables.h"

namespace aurivane {

namespace {

// The shared rules rebuilt from the header; they must agree with the
// encoder's own master, high and low tables.
bool SharedTables(const SbrHeaderValues& h, const SbrEncoderBandTables& own, SbrFreqTables* t) {
    SbrHeader header{};
    header.ampRes = h.ampResolution;
    header.startFreq = h.startFrequency;
    header.stopFreq = h.stopFrequency;
    header.xoverBand = h.xoverBand;
    header.freqScale = h.freqScale;
    header.alterScale = h.alterScale;
    header.noiseBands = h.noiseBands;
    header.limiterBands = h.limiterBands;
    header.limiterGains = h.limiterGains;
    header.interpolFreq = h.interpolFreq;
    header.smoothingMode = h.smoothingMode;
    if (!SbrBuildFreqTables(header, own.fsSbr, t)) return false;
    if (t->nMaster != own.nMaster || t->n[1] != own.nHigh || t->n[0] != own.nLow) return false;
    for (int i = 0; i <= own.nHigh; ++i)
        if (t->fHigh[i] != own.high[i]) return false;
    for (int i = 0; i <= own.nLow; ++i)
        if (t->fLow[i] != own.low[i]) return false;
    return true;
}

}  // namespace

bool SbrBuildPatchMap(const SbrHeaderValues& header, SbrEncoderBandTables* tables) {
    SbrFreqTables t;
    if (!SharedTables(header, *tables, &t)) return false;
    for (int k = 0; k < kSbrQmfBands; ++k) tables->patchSource[k] = 255;
    int target = t.kx;
    for (int p = 0; p < t.numPatches; ++p) {
        for (int j = 0; j < t.patchNumSubbands[p] && target < kSbrQmfBands; ++j, ++target)
            tables->patchSource[target] = static_cast<uint8_t>(t.patchStartSubband[p] + j);
    }
    return true;
}

}  // namespace aurivane
