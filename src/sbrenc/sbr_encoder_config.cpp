#include "sbrenc/sbr_encoder_config.h"

#include <cstring>

#include "dsp/sbr_freq_tables.h"

namespace aurivane {

// Rows in search order: the first match wins. Mono rows end at 44001 so
// that 44000 bit/s is accepted in mono.
const SbrTuningRow kSbrTuningTable[kSbrTuningRows] = {
    // from,  to,    core,  ch, start, stop, noise, nf, level, stereo, scale
    {10000, 12000, 16000, 1, 1, 3, 1, 0, 6, 0, 3},
    {12000, 16000, 16000, 1, 2, 0, 1, 0, 6, 0, 3},
    {16000, 20000, 16000, 1, 2, 3, 1, 0, 6, 0, 3},
    {8000, 12000, 22050, 1, 1, 3, 1, 0, 6, 0, 3},
    {12000, 18000, 22050, 1, 1, 4, 1, 0, 6, 0, 3},
    {18000, 22000, 22050, 1, 3, 5, 2, 0, 6, 0, 2},
    {22000, 28000, 22050, 1, 7, 8, 2, 0, 6, 0, 2},
    {28000, 36000, 22050, 1, 11, 9, 2, 0, 3, 0, 2},
    {36000, 44001, 22050, 1, 11, 9, 2, 0, 3, 0, 1},
    {12000, 18000, 24000, 1, 1, 4, 1, 0, 6, 0, 3},
    {18000, 22000, 24000, 1, 3, 5, 2, 0, 6, 0, 2},
    {22000, 28000, 24000, 1, 7, 8, 2, 0, 6, 0, 2},
    {28000, 36000, 24000, 1, 10, 9, 2, 0, 3, 0, 2},
    {36000, 44001, 24000, 1, 11, 9, 2, 0, 3, 0, 1},
    {18000, 24000, 16000, 2, 4, 2, 1, 0, -3, 3, 3},
    {24000, 28000, 22050, 2, 5, 6, 1, 0, -3, 3, 3},
    {28000, 36000, 22050, 2, 7, 8, 2, 0, -3, 3, 2},
    {36000, 44000, 22050, 2, 10, 9, 2, 0, -3, 3, 2},
    {44000, 52000, 22050, 2, 12, 9, 3, 0, -3, 3, 2},
    {24000, 28000, 24000, 2, 5, 6, 1, 0, -3, 3, 3},
    {28000, 36000, 24000, 2, 7, 8, 2, 0, -3, 3, 2},
    {36000, 44000, 24000, 2, 10, 9, 2, 0, -3, 3, 2},
    {44000, 52000, 24000, 2, 12, 9, 3, 0, -3, 3, 2},
};

const SbrTuningRow* SbrFindTuning(int32_t bitrate, int32_t channels, int32_t coreSampleRate) {
    for (const SbrTuningRow& row : kSbrTuningTable) {
        if (row.channels == channels && row.coreSampleRate == coreSampleRate && row.bitrateFrom <= bitrate &&
            bitrate < row.bitrateTo)
            return &row;
    }
    return nullptr;
}

int32_t SbrCheckAvailability(int32_t bitrate, int32_t channels, int32_t inputRate, int32_t* coreRate) {
    if (inputRate < 32000) return 0;
    *coreRate = inputRate >> 1;
    return SbrFindTuning(bitrate, channels, *coreRate) != nullptr ? 1 : 0;
}

int32_t SbrDefaultSettings(SbrEncoderSettings* s) {
    s->headerRepeatTimeMs = 500;
    s->crcFlag = 0;
    s->flagA = 1;
    s->flagB = 1;
    s->transientThreshold = 13000;
    s->noiseFloorOffset = 0;
    s->speechMode = 0;
    s->dataExtra = 0;
    s->ampResolution = 1;
    s->maxLevelDb = 6;
    s->transientCutoffHz = 0;
    s->transientDetectMode = 1;
    s->frameSpread = 1;
    s->staticFraming = 0;
    s->maxEnvelopesLog2 = 1;
    s->stereoMode = 3;
    s->deltaTAcrossFrames = 1;
    s->edgeFirstEnvelope = 0.3f;
    s->edgeIncrement = 0.3f;
    s->inverseFilteringMode = 4;
    s->harmonicsDetection = 2;
    s->patchingMode = 2;
    s->reserved = 0;
    s->startFrequency = 5;
    s->stopFrequency = 9;
    s->usePs = 0;
    s->psMode = -1;
    s->freqScale = 2;
    s->alterScale = 1;
    s->noiseBands = 2;
    s->limiterBands = 2;
    s->limiterGains = 2;
    s->interpolFreq = 1;
    s->smoothingMode = 0;
    return 1;
}

int32_t SbrAdjustSettings(SbrEncoderSettings* s, int32_t bitrate, int32_t channels, int32_t coreSampleRate,
                          int32_t transientFactor, int32_t standardBitrate) {
    s->bitrate = bitrate;
    s->channels = channels;
    s->coreSampleRate = coreSampleRate;
    s->transientFactor = transientFactor;
    s->standardBitrate = standardBitrate;
    const SbrTuningRow* row = SbrFindTuning(bitrate, channels, coreSampleRate);
    if (row == nullptr) return 0;
    s->startFrequency = row->startFrequency;
    s->stopFrequency = row->stopFrequency;
    s->noiseBands = row->noiseBands;
    s->noiseFloorOffset = row->noiseFloorOffset;
    s->maxLevelDb = row->maxLevelDb;
    s->stereoMode = row->stereoMode;
    s->freqScale = row->freqScale;
    if (bitrate <= 20000) {
        s->flagB = 0;
        s->speechMode = 1;
    }
    // 10 parameter bands below 21000 bit/s, 20 from there.
    if (s->usePs != 0) s->psMode = bitrate > 20999 ? 0 : 0x20000;
    return 1;
}

SbrHeaderValues SbrHeaderFromSettings(const SbrEncoderSettings& s) {
    SbrHeaderValues h;
    h.ampResolution = s.ampResolution;
    h.startFrequency = s.startFrequency;
    h.stopFrequency = s.stopFrequency;
    h.xoverBand = 0;
    h.freqScale = s.freqScale;
    h.alterScale = s.alterScale;
    h.noiseBands = s.noiseBands;
    h.limiterBands = s.limiterBands;
    h.limiterGains = s.limiterGains;
    h.interpolFreq = s.interpolFreq;
    h.smoothingMode = s.smoothingMode;
    // Each optional header part is left out when it holds the encoder's
    // default values.
    h.headerExtra1 = (s.freqScale == 2 && s.alterScale == 1 && s.noiseBands == 2) ? 0 : 1;
    h.headerExtra2 =
        (s.limiterBands == 2 && s.limiterGains == 2 && s.interpolFreq == 1 && s.smoothingMode == 0) ? 0 : 1;
    return h;
}

bool SbrBuildEncoderBandTables(int32_t fsSbr, bool dualRate, SbrHeaderValues* header, SbrEncoderBandTables* t,
                               int32_t* bandwidthHz) {
    std::memset(t, 0, sizeof(*t));
    std::memset(t->patchSource, 255, sizeof(t->patchSource));
    t->fsSbr = fsSbr;
    const int k0 = SbrStartBand(header->startFrequency, fsSbr);
    if (dualRate && 2 * k0 > 64) return false;
    const int k2 = SbrStopBand(header->stopFrequency, fsSbr, k0);
    if (k2 - k0 > 27 || k2 > 62 || k2 < k0) return false;
    int master[65];
    int nMaster = 0;
    if (!SbrMasterTable(k0, k2, header->freqScale, header->alterScale, master, &nMaster) || nMaster <= 0 ||
        nMaster > kSbrMaxHighBands)
        return false;
    // The high band must start inside the bands the core signal carries.
    const int limit = dualRate ? 32 : 64;
    int xover = 0;
    if (master[xover] > limit || xover > nMaster) {
        xover = nMaster - 1;
        for (int i = 0; i < nMaster - 1; ++i) {
            if (master[i + 1] >= limit) {
                xover = i;
                break;
            }
        }
    }
    header->xoverBand = xover;
    const int nHigh = nMaster - xover;
    const int nLow = (nHigh & 1) ? (nHigh + 1) / 2 : nHigh / 2;
    int low[kSbrMaxHighBands + 1];
    int high[kSbrMaxHighBands + 1];
    for (int j = 0; j <= nHigh; ++j) high[j] = master[xover + j];
    low[0] = high[0];
    for (int i = 1; i <= nLow; ++i) low[i] = (nHigh & 1) ? high[2 * i - 1] : high[2 * i];
    int noise[kSbrMaxNoiseBands + 1];
    const int nNoise = SbrNoiseBandTable(header->noiseBands, low, nLow, noise);
    if (nNoise > kSbrMaxNoiseBands) return false;

    t->k0 = k0;
    t->k2 = k2;
    t->nMaster = nMaster;
    t->nHigh = nHigh;
    t->nLow = nLow;
    t->nNoise = nNoise;
    for (int i = 0; i <= nMaster; ++i) t->master[i] = static_cast<uint8_t>(master[i]);
    for (int i = 0; i <= nHigh; ++i) t->high[i] = static_cast<uint8_t>(high[i]);
    for (int i = 0; i <= nLow; ++i) t->low[i] = static_cast<uint8_t>(low[i]);
    for (int i = 0; i <= nNoise; ++i) t->noise[i] = static_cast<uint8_t>(noise[i]);
    *bandwidthHz = (low[0] * fsSbr / 64 + 1) / 2;
    return true;
}

int32_t SbrHeaderPeriod(int32_t headerRepeatTimeMs, int32_t fsSbr) {
    if (headerRepeatTimeMs <= 0) return 0;
    const int32_t period = static_cast<int32_t>(headerRepeatTimeMs * 0.001 * fsSbr / 2048.0);
    return period < 1 ? 1 : period;
}

}  // namespace aurivane
