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

// The rules one at a time, for the encoder, which picks its own crossover.
// k0 of bs_start_freq at the SBR rate fs.
int SbrStartBand(int startFreq, int fs);
// k2 of bs_stop_freq (14: 2 k0, 15: 3 k0), at most 64; the caller checks the span.
int SbrStopBand(int stopFreq, int fs, int k0);
// f_master[0..*nMaster] from k0, k2, bs_freq_scale and bs_alter_scale; false
// for a degenerate table (a zero band width, more than 64 bands).
bool SbrMasterTable(int k0, int k2, int freqScale, int alterScale, int* fMaster, int* nMaster);
// Noise-floor bands from the low-resolution table fLow[0..nLow]: returns N_Q
// and fills fNoise[0..N_Q] only when N_Q <= 5.
int SbrNoiseBandTable(int noiseBands, const int* fLow, int nLow, int* fNoise);

// Builds all tables for the SBR (output) sampling rate fs. Returns false for
// headers that give no valid layout.
bool SbrBuildFreqTables(const SbrHeader& header, int fs, SbrFreqTables* tables);

}  // namespace aurivane

#endif
