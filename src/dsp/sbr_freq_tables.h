// SBR frequency band tables derived from a header (ISO/IEC 14496-3,
// 4.6.18.3.2): master table, high/low resolution envelope bands, noise-floor
// bands, the patch layout of the HF generator and the limiter bands.
#ifndef AURIVANE_DSP_SBR_FREQ_TABLES_H
#define AURIVANE_DSP_SBR_FREQ_TABLES_H

namespace aurivane {

struct SbrHeader {
    int ampRes;
    int startFreq;
    int stopFreq;
    int xoverBand;
    int freqScale;
    int alterScale;
    int noiseBands;
    int limiterBands;
    int limiterGains;
    int interpolFreq;
    int smoothingMode;
};

inline constexpr SbrHeader kSbrDefaultHeader = {1, 5, 0, 0, 2, 1, 2, 2, 2, 1, 1};

struct SbrFreqTables {
    int k0, k2, kx, m;
    int nMaster;
    int fMaster[65];
    int n[2];  // [0] low, [1] high resolution band counts
    int fLow[65];
    int fHigh[65];
    int nQ;
    int fNoise[6];
    int numPatches;
    int patchNumSubbands[6];
    int patchStartSubband[6];
    int nLim;
    int fLim[40];
};

// Builds all tables for the SBR (output) sampling rate fs. Returns false for
// headers that give no valid layout.
bool SbrBuildFreqTables(const SbrHeader& header, int fs, SbrFreqTables* tables);

}  // namespace aurivane

#endif
