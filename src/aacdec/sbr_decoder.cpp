#include "aacdec/sbr_decoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "dsp/fft.h"
#include "dsp/sbr_crc.h"
#include "dsp/sbr_grid.h"
#include "aacdec/sbr_decoder_state.h"

namespace aurivane {

namespace {

constexpr int kSlots = 32;
constexpr int kLookBack = 8;  // t_HFGen
constexpr int kHfAdj = 2;

void ResetChannel(SbrChannel& c) {
    std::memset(c.env, 0, sizeof(c.env));
    std::memset(c.noise, 0, sizeof(c.noise));
    std::memset(c.prevEnv, 0, sizeof(c.prevEnv));
    std::memset(c.prevNoise, 0, sizeof(c.prevNoise));
    c.prevEnvRes = 1;
    c.haveLast = false;
    c.lastEnvRes = 1;
    // A new header restarts the noise sequence; the chirp factors, the
    // sinusoid phase and the running-sinusoid flags (by band index, as
    // independent decoders keep them), the time position of the previous
    // frame's end and the high band already synthesised carry on.
    c.adjuster.reset = true;
    c.adjuster.noiseIndex = 0;
}

void InitChannel(SbrChannel& c) {
    c.analysis.Reset();
    c.synthesis.Reset();
    std::memset(&c.low, 0, sizeof(c.low));
    std::memset(&c.high, 0, sizeof(c.high));
    std::memset(c.invfPrev, 0, sizeof(c.invfPrev));
    std::memset(c.bwPrev, 0, sizeof(c.bwPrev));
    std::memset(c.addHarmonicPrev, 0, sizeof(c.addHarmonicPrev));
    c.adjuster.sineIndex = 0;
    c.prevEndSlot = 16;
    c.prevTransientAtEnd = false;
    c.kxPrev = 32;
    c.mPrev = 0;
    ResetChannel(c);
}

bool SameTableFields(const SbrHeader& a, const SbrHeader& b) {
    return a.startFreq == b.startFreq && a.stopFreq == b.stopFreq && a.xoverBand == b.xoverBand &&
           a.freqScale == b.freqScale && a.alterScale == b.alterScale && a.noiseBands == b.noiseBands;
}

struct ParseContext {
    bool reset = false;
    bool ampResChanged = false;
    bool psParsed = false;
};

bool ReadExtensions(SbrDecoder* d, SbrBitReader& br, bool mono, int downmix, ParseContext& ctx) {
    if (!br.Read(1)) return true;  // bs_extended_data
    int cnt = static_cast<int>(br.Read(4));
    if (cnt == 15) cnt += static_cast<int>(br.Read(8));
    int bitsLeft = 8 * cnt;
    if (bitsLeft > br.Remaining()) return false;
    while (bitsLeft > 7) {
        int id = static_cast<int>(br.Read(2));
        bitsLeft -= 2;
        if (id == 2) {
            if (!mono) return false;
            if (!downmix && !ctx.psParsed) {
                int used = d->ps.Parse(br, bitsLeft);
                bitsLeft -= used;
                ctx.psParsed = true;
                if (d->ps.Ready()) {
                    d->channelMode = kSbrMonoPs;
                    d->psActive = true;
                }
                continue;
            }
        }
        br.Skip(bitsLeft);
        bitsLeft = 0;
    }
    if (bitsLeft < 0) return false;
    br.Skip(bitsLeft);
    return true;
}

bool ReadSingle(SbrDecoder* d, SbrBitReader& br, SbrChannel& c, int downmix, ParseContext& ctx) {
    const SbrFreqTables& t = d->tables;
    SbrFrameData& f = c.data;
    if (br.Read(1)) br.Skip(4);  // bs_data_extra, bs_reserved
    if (!SbrReadGrid(br, &f.grid)) return false;
    f.ampRes = SbrEffectiveAmpResolution(f.grid.frameClass, f.grid.numEnv, d->header.ampRes);
    SbrReadDtdf(br, &f);
    SbrReadInvf(br, t.nQ, &f);
    if (!SbrReadEnvelope(br, t, false, &f)) return false;
    SbrReadNoise(br, t, false, &f);
    SbrReadSinusoidal(br, t, &f);
    return ReadExtensions(d, br, true, downmix, ctx);
}

bool ReadPair(SbrDecoder* d, SbrBitReader& br, ParseContext& ctx) {
    const SbrFreqTables& t = d->tables;
    SbrFrameData& f0 = d->ch[0].data;
    SbrFrameData& f1 = d->ch[1].data;
    if (br.Read(1)) br.Skip(8);  // bs_data_extra, two bs_reserved nibbles
    const bool coupling = br.Read(1) != 0;
    d->coupling = coupling;
    if (coupling) {
        if (!SbrReadGrid(br, &f0.grid)) return false;
        f1.grid = f0.grid;
        f0.ampRes = f1.ampRes = SbrEffectiveAmpResolution(f0.grid.frameClass, f0.grid.numEnv, d->header.ampRes);
        SbrReadDtdf(br, &f0);
        SbrReadDtdf(br, &f1);
        SbrReadInvf(br, t.nQ, &f0);
        std::memcpy(f1.invfMode, f0.invfMode, sizeof(f1.invfMode));
        if (!SbrReadEnvelope(br, t, false, &f0)) return false;
        SbrReadNoise(br, t, false, &f0);
        if (!SbrReadEnvelope(br, t, true, &f1)) return false;
        SbrReadNoise(br, t, true, &f1);
    } else {
        if (!SbrReadGrid(br, &f0.grid)) return false;
        if (!SbrReadGrid(br, &f1.grid)) return false;
        f0.ampRes = SbrEffectiveAmpResolution(f0.grid.frameClass, f0.grid.numEnv, d->header.ampRes);
        f1.ampRes = SbrEffectiveAmpResolution(f1.grid.frameClass, f1.grid.numEnv, d->header.ampRes);
        SbrReadDtdf(br, &f0);
        SbrReadDtdf(br, &f1);
        SbrReadInvf(br, t.nQ, &f0);
        SbrReadInvf(br, t.nQ, &f1);
        if (!SbrReadEnvelope(br, t, false, &f0)) return false;
        if (!SbrReadEnvelope(br, t, false, &f1)) return false;
        SbrReadNoise(br, t, false, &f0);
        SbrReadNoise(br, t, false, &f1);
    }
    SbrReadSinusoidal(br, t, &f0);
    SbrReadSinusoidal(br, t, &f1);
    return ReadExtensions(d, br, false, 0, ctx);
}

bool LoadTables(SbrDecoder* d) {
    d->tablesValid = SbrBuildFreqTables(d->header, d->outRate, &d->tables);
    return d->tablesValid;
}

void ResetChannels(SbrDecoder* d) {
    ResetChannel(d->ch[0]);
    ResetChannel(d->ch[1]);
}

// Parses one payload; returns false when the call must fail.
bool ParsePayload(SbrDecoder* d, const SbrPayloadEntry& e, int payloadIndex, int payloadCount, int downmix,
                  ParseContext& ctx) {
    const int count = std::clamp(e.byteCount, 0, static_cast<int>(sizeof(e.bytes)));
    SbrBitReader br;
    br.Init(e.bytes, count * 8);
    br.Skip(4);
    bool valid = true;
    if (e.extensionType == 14) {
        const int crcBits = count * 8 - 14;
        if (crcBits < 0) {
            valid = false;
        } else {
            const uint32_t crc = br.Read(10);
            if (SbrCrc10(e.bytes, 14, crcBits) != crc) valid = false;
        }
    } else if (e.extensionType != 13) {
        valid = false;
    }
    const bool pair = payloadCount == 1 && e.elementType == 1;
    if (payloadCount == 1 && e.elementType != 0 && e.elementType != 1) valid = false;
    if (valid && br.Read(1)) {
        SbrHeader h = d->header;
        h.ampRes = static_cast<int>(br.Read(1));
        h.startFreq = static_cast<int>(br.Read(4));
        h.stopFreq = static_cast<int>(br.Read(4));
        h.xoverBand = static_cast<int>(br.Read(3));
        br.Skip(2);
        const bool extra1 = br.Read(1) != 0;
        const bool extra2 = br.Read(1) != 0;
        if (extra1) {
            h.freqScale = static_cast<int>(br.Read(2));
            h.alterScale = static_cast<int>(br.Read(1));
            h.noiseBands = static_cast<int>(br.Read(2));
        } else {
            h.freqScale = 2, h.alterScale = 1, h.noiseBands = 2;
        }
        if (extra2) {
            h.limiterBands = static_cast<int>(br.Read(2));
            h.limiterGains = static_cast<int>(br.Read(2));
            h.interpolFreq = static_cast<int>(br.Read(1));
            h.smoothingMode = static_cast<int>(br.Read(1));
        } else {
            h.limiterBands = 2, h.limiterGains = 2, h.interpolFreq = 1, h.smoothingMode = 1;
        }
        if (br.overrun) {
            valid = false;
        } else {
            d->channelMode = (pair || payloadCount == 2) ? kSbrStereo : kSbrMono;
            const bool needReset = d->headerState != kSbrReceivedHeader || !SameTableFields(h, d->header);
            if (h.ampRes != d->header.ampRes) ctx.ampResChanged = true;
            const bool limiterChanged = h.limiterBands != d->header.limiterBands;
            d->header = h;
            // The limiter bands follow bs_limiter_bands without a reset.
            if (!needReset && limiterChanged) LoadTables(d);
            if (needReset) {
                ctx.reset = true;
                if (LoadTables(d)) {
                    ResetChannels(d);
                    d->headerState = kSbrReceivedHeader;
                }
            }
        }
    }
    if (!d->tablesValid || d->headerState != kSbrReceivedHeader) {
        if (d->headerState == kSbrNoHeader && !d->tablesValid && ctx.reset) return false;
        if (d->headerState != kSbrDefaultHeaderState || !d->tablesValid) {
            d->header = kSbrDefaultHeader;
            if (!LoadTables(d)) return false;
            ResetChannels(d);
            d->headerState = kSbrDefaultHeaderState;
        }
    }
    if (valid && d->headerState == kSbrReceivedHeader) {
        if (payloadCount == 2) {
            valid = ReadSingle(d, br, d->ch[payloadIndex], 1, ctx);
            d->ch[payloadIndex].dataValid = valid;
        } else if (pair) {
            valid = ReadPair(d, br, ctx);
            d->ch[0].dataValid = d->ch[1].dataValid = valid;
        } else {
            d->coupling = false;
            valid = ReadSingle(d, br, d->ch[0], downmix, ctx);
            d->ch[0].dataValid = valid;
        }
        if (valid && (br.overrun || ((br.position + 7) >> 3) != count)) valid = false;
    }
    if (!valid) d->headerError = true;
    return true;
}

// Delta decoding of envelopes and noise floors into the channel history.
void DecodeDeltas(const SbrFreqTables& t, SbrChannel& c, bool balance) {
    const SbrFrameData& f = c.data;
    const int maxEnv = balance ? (f.ampRes ? 24 : 48) : 127;
    for (int l = 0; l < f.grid.numEnv; ++l) {
        const int r = f.grid.freqRes[l];
        const int n = t.n[r];
        if (f.dfEnv[l] == 0) {
            int acc = 0;
            for (int k = 0; k < n; ++k) {
                acc = (k == 0 ? f.env[l][0] : acc + f.env[l][k]);
                c.env[l][k] = std::clamp(acc, 0, maxEnv);
            }
        } else {
            const int* prev = l ? c.env[l - 1] : c.prevEnv;
            const int prevRes = l ? f.grid.freqRes[l - 1] : c.prevEnvRes;
            for (int k = 0; k < n; ++k) {
                int ref;
                if (r == prevRes) {
                    ref = prev[k];
                } else if (r == 0) {
                    int i = 0;
                    while (i < t.n[1] && t.fHigh[i] != t.fLow[k]) ++i;
                    ref = prev[std::min(i, t.n[1] - 1)];
                } else {
                    int i = 0;
                    while (i + 1 < t.n[0] && t.fLow[i + 1] <= t.fHigh[k]) ++i;
                    ref = prev[i];
                }
                c.env[l][k] = std::clamp(ref + f.env[l][k], 0, maxEnv);
            }
        }
    }
    const int last = f.grid.numEnv - 1;
    std::memcpy(c.prevEnv, c.env[last], sizeof(c.prevEnv));
    c.prevEnvRes = f.grid.freqRes[last];
    const int maxNoise = balance ? 24 : 30;
    for (int q = 0; q < f.grid.numNoise; ++q) {
        for (int k = 0; k < t.nQ; ++k) {
            int v;
            if (f.dfNoise[q] == 0)
                v = k == 0 ? f.noise[q][0] : c.noise[q][k - 1] + f.noise[q][k];
            else
                v = (q ? c.noise[q - 1][k] : c.prevNoise[k]) + f.noise[q][k];
            c.noise[q][k] = std::clamp(v, 0, maxNoise);
        }
    }
    std::memcpy(c.prevNoise, c.noise[f.grid.numNoise - 1], sizeof(c.prevNoise));
}

void Dequantise(const SbrFreqTables& t, SbrChannel& c) {
    const SbrFrameData& f = c.data;
    const float a = f.ampRes ? 1.0f : 2.0f;
    for (int l = 0; l < f.grid.numEnv; ++l)
        for (int k = 0; k < t.n[f.grid.freqRes[l]]; ++k)
            c.envOrig[l][k] = 64.0f * std::exp2(static_cast<float>(c.env[l][k]) / a);
    for (int q = 0; q < f.grid.numNoise; ++q)
        for (int k = 0; k < t.nQ; ++k) c.noiseOrig[q][k] = std::exp2(6.0f - static_cast<float>(c.noise[q][k]));
}

void DequantiseCoupled(const SbrFreqTables& t, SbrChannel& c0, SbrChannel& c1) {
    const SbrFrameData& f = c0.data;
    const float a = f.ampRes ? 1.0f : 2.0f;
    const float pan = f.ampRes ? 12.0f : 24.0f;
    for (int l = 0; l < f.grid.numEnv; ++l)
        for (int k = 0; k < t.n[f.grid.freqRes[l]]; ++k) {
            const float level = 64.0f * std::exp2(static_cast<float>(c0.env[l][k]) / a + 1.0f);
            // Balance values count double steps.
            const float bal = 2.0f * static_cast<float>(c1.env[l][k]);
            c0.envOrig[l][k] = level / (1.0f + std::exp2((pan - bal) / a));
            c1.envOrig[l][k] = level / (1.0f + std::exp2((bal - pan) / a));
        }
    for (int q = 0; q < f.grid.numNoise; ++q)
        for (int k = 0; k < t.nQ; ++k) {
            const float level = std::exp2(6.0f - static_cast<float>(c0.noise[q][k]) + 1.0f);
            const float bal = 2.0f * static_cast<float>(c1.noise[q][k]);
            c0.noiseOrig[q][k] = level / (1.0f + std::exp2(12.0f - bal));
            c1.noiseOrig[q][k] = level / (1.0f + std::exp2(bal - 12.0f));
        }
}

void KeepLast(const SbrFreqTables& t, SbrChannel& c) {
    const SbrFrameData& f = c.data;
    const int last = f.grid.numEnv - 1;
    c.lastEnvRes = f.grid.freqRes[last];
    std::memcpy(c.lastEnvOrig, c.envOrig[last], sizeof(float) * t.n[c.lastEnvRes]);
    std::memcpy(c.lastNoiseOrig, c.noiseOrig[f.grid.numNoise - 1], sizeof(c.lastNoiseOrig));
    c.haveLast = true;
}

// Invalid SBR data: one envelope from the previous frame's end to this
// frame's end, with the last envelope, noise floor and filtering modes.
bool Conceal(SbrChannel& c) {
    if (!c.haveLast) return false;
    SbrFrameData& f = c.data;
    SbrGrid& g = f.grid;
    g.frameClass = kFixFix;
    g.numEnv = 1;
    g.numNoise = 1;
    g.tE[0] = std::clamp(c.prevEndSlot - 16, 0, 3);
    g.tE[1] = 16;
    g.tQ[0] = g.tE[0];
    g.tQ[1] = 16;
    g.freqRes[0] = c.lastEnvRes;
    g.pointer = 0;
    g.transientEnv = -1;
    std::memcpy(c.envOrig[0], c.lastEnvOrig, sizeof(c.lastEnvOrig));
    std::memcpy(c.noiseOrig[0], c.lastNoiseOrig, sizeof(c.lastNoiseOrig));
    std::memcpy(f.invfMode, c.invfPrev, sizeof(f.invfMode));
    f.addHarmonicFlag = 0;
    std::memset(f.addHarmonic, 0, sizeof(f.addHarmonic));
    return true;
}

// Analysis, HF reconstruction and the QMF matrix of one channel, left in
// rows kHfAdj.. kHfAdj + 31 of c.high.
void ProcessChannel(SbrDecoder* d, SbrChannel& c, const float* input, bool hf, bool complex) {
    // Look-back: the last 8 analysis slots of the previous frame.
    std::memmove(c.low.re[0], c.low.re[kSlots], sizeof(float) * 32 * kLookBack);
    std::memmove(c.low.im[0], c.low.im[kSlots], sizeof(float) * 32 * kLookBack);
    // Bands at and above the previous frame's crossover were its high band,
    // not low band: X_Low is zero there in the look-back (only a header
    // reset that raises kx ever reads them).
    for (int r = 0; r < kLookBack; ++r)
        for (int k = std::max(c.kxPrev, 0); k < 32; ++k) c.low.re[r][k] = c.low.im[r][k] = 0.0f;
    if (complex) {
        c.analysis.ProcessSlots(input, kSlots, c.low.re + kLookBack, c.low.im + kLookBack);
    } else {
        for (int l = 0; l < kSlots; ++l) c.analysis.Process(input + 32 * l, c.low.re[kLookBack + l], nullptr);
    }
    if (!complex) std::memset(c.low.im, 0, sizeof(c.low.im));

    // The previous frame's high band past its end slot 32 carries over.
    std::memmove(c.high.re[0], c.high.re[kSlots], sizeof(float) * 64 * (kSbrHighSlots - kSlots));
    std::memmove(c.high.im[0], c.high.im[kSlots], sizeof(float) * 64 * (kSbrHighSlots - kSlots));
    std::memset(c.high.re[kSbrHighSlots - kSlots], 0, sizeof(float) * 64 * kSlots);
    std::memset(c.high.im[kSbrHighSlots - kSlots], 0, sizeof(float) * 64 * kSlots);

    int kx = 32, m = 0, firstSlot = 0;
    if (hf) {
        const SbrFreqTables& t = d->tables;
        const SbrGrid& g = c.data.grid;
        kx = t.kx;
        m = t.m;
        firstSlot = 2 * g.tE[0];
        const int lastSlot = 2 * g.tE[g.numEnv];
        // Slots this frame regenerates start clean (those from row
        // kSbrHighSlots - kSlots on were cleared above).
        for (int i = firstSlot; i < std::min(lastSlot, kSbrHighSlots - kSlots - kHfAdj); ++i) {
            std::memset(c.high.re[i + kHfAdj], 0, sizeof(float) * 64);
            std::memset(c.high.im[i + kHfAdj], 0, sizeof(float) * 64);
        }
        float bw[5];
        SbrChirpFactors(t.nQ, c.data.invfMode, c.invfPrev, c.bwPrev, bw);
        float degreeAlias[64];
        SbrHfGenerate(t, c.low, complex, bw, firstSlot, lastSlot, &c.high, complex ? nullptr : degreeAlias);
        SbrAdjustInput in;
        in.tables = &t;
        in.header = &d->header;
        in.grid = &g;
        in.envOrig = c.envOrig;
        in.noiseOrig = c.noiseOrig;
        in.addHarmonic = c.data.addHarmonic;
        in.addHarmonicPrev = c.addHarmonicPrev;
        in.prevTransientAtEnd = c.prevTransientAtEnd;
        in.complex = complex;
        in.degreeAlias = complex ? nullptr : degreeAlias;
        SbrHfAdjust(in, &c.adjuster, &c.high);
        SbrCarrySinusoids(g, t.n[1], c.data.addHarmonic, c.addHarmonicPrev);
        c.prevEndSlot = g.tE[g.numEnv];
        c.prevTransientAtEnd = g.transientEnv == g.numEnv;
    } else {
        c.prevEndSlot = 16;
        c.prevTransientAtEnd = false;
        std::memset(&c.high, 0, sizeof(c.high));
        c.adjuster.reset = true;
    }
    // The QMF matrix X is the high-band buffer itself (rows kHfAdj on): it
    // holds X_High from k_x to k_x + M and zeros elsewhere, so X_Low only
    // goes in below k_x. The slots before the first envelope keep the
    // previous frame's k_x. Rows that carry over to the next frame (slots 32
    // on) are not part of X.
    for (int l = 0; l < kSlots; ++l) {
        const int kLow = std::clamp(l < firstSlot ? c.kxPrev : kx, 0, 64);
        const int kCore = std::min(kLow, 32);
        float* __restrict xr = c.high.re[l + kHfAdj];
        float* __restrict xi = c.high.im[l + kHfAdj];
        const float* __restrict lr = c.low.re[l + kHfAdj];
        const float* __restrict li = c.low.im[l + kHfAdj];
        for (int k = 0; k < kCore; ++k) {
            xr[k] = lr[k];
            xi[k] = li[k];
        }
    }
    c.kxPrev = kx;
    c.mPrev = m;
}

}  // namespace

SbrDecoder* SbrDecoderCreate() { return new (std::nothrow) SbrDecoder(); }

void SbrDecoderDestroy(SbrDecoder* instance) { delete instance; }

SbrDecoder* SbrDecoderOpen(SbrDecoder* d, int coreSampleRate, int coreFrameSize, int optionA, int optionB) {
    (void)optionB;
    if (!d || coreFrameSize != 1024 || coreSampleRate < 8000 || coreSampleRate > 48000) return nullptr;
    Log2Init();
    d->coreRate = coreSampleRate;
    d->outRate = 2 * coreSampleRate;
    d->frameSize = coreFrameSize;
    d->headerState = kSbrNoHeader;
    d->channelMode = kSbrMono;
    d->headerError = false;
    d->header = kSbrDefaultHeader;
    d->tablesValid = false;
    d->coupling = false;
    d->psActive = false;
    d->lowPower = (optionA & kSbrOptionLowPower) != 0;
    std::memset(&d->pending, 0, sizeof(d->pending));
    d->primed = false;
    InitChannel(d->ch[0]);
    InitChannel(d->ch[1]);
    d->ps.Reset();
    return d;
}

int SbrDecoderApply(SbrDecoder* d, const SbrPayloadList* payloads, float* time, int* channels, int frameValid,
                    int alternativeOutput, int downmix) {
    (void)alternativeOutput;
    if (!d || !time || !channels) return kSbrStatusFailed;
    int coreChannels = std::clamp(*channels, 1, 2);
    // The time buffer holds the audio of the previous call's record: decode
    // it with that record's payloads and keep this call's for the next.
    SbrPayloadList current;
    current.count = payloads ? std::clamp(payloads->count, 0, 2) : 0;
    for (int i = 0; i < current.count; ++i) current.entries[i] = payloads->entries[i];
    const SbrPayloadList use = d->pending;
    d->pending = current;
    const bool priming = !d->primed;
    d->primed = true;

    const int stateBefore = d->headerState;
    d->headerError = false;
    d->ch[0].dataValid = d->ch[1].dataValid = false;
    ParseContext ctx;
    const int count = use.count;
    if (priming) {
        // Audio from before the first payload: plain upsampling.
    } else if (count > 0 && frameValid) {
        for (int i = 0; i < count; ++i)
            if (!ParsePayload(d, use.entries[i], i, count, downmix, ctx)) {
                d->headerState = kSbrNoHeader;
                return kSbrStatusFailed;
            }
    } else {
        if (d->headerState == kSbrReceivedHeader) d->headerState = kSbrDefaultHeaderState;
        if (!frameValid) d->headerError = true;
        d->channelMode = coreChannels == 2 ? kSbrStereo : (d->psActive ? kSbrMonoPs : kSbrMono);
    }
    if (!priming && (d->headerState == kSbrNoHeader || (stateBefore == kSbrNoHeader && d->headerError))) {
        d->headerState = kSbrNoHeader;
        return kSbrStatusFailed;
    }
    if (d->headerState == kSbrDefaultHeaderState && !d->tablesValid) return kSbrStatusFailed;

    if (downmix && coreChannels == 2) {
        for (int i = 0; i < 1024; ++i) {
            const float v = 0.5f * (time[i] + time[1024 + i]);
            time[i] = v;
            time[1024 + i] = v;
        }
    }
    const bool stereo = coreChannels == 2;
    const bool complex = !stereo || !d->lowPower;
    bool hf[2] = {false, false};
    if (d->headerState == kSbrReceivedHeader) {
        if (ctx.ampResChanged && !ctx.reset) ResetChannels(d);
        const bool coupled = stereo && d->coupling && d->ch[0].dataValid && d->ch[1].dataValid;
        for (int c = 0; c < coreChannels; ++c) {
            SbrChannel& ch = d->ch[c];
            if (ch.dataValid) {
                DecodeDeltas(d->tables, ch, coupled && c == 1);
                hf[c] = true;
            } else {
                hf[c] = Conceal(ch);
            }
        }
        if (coupled) {
            DequantiseCoupled(d->tables, d->ch[0], d->ch[1]);
        } else {
            for (int c = 0; c < coreChannels; ++c)
                if (d->ch[c].dataValid) Dequantise(d->tables, d->ch[c]);
        }
        for (int c = 0; c < coreChannels; ++c)
            if (d->ch[c].dataValid) KeepLast(d->tables, d->ch[c]);
    }

    const bool ps = !stereo && d->psActive && !downmix;
    // Channel 1 first: its output (2048..4095) overlaps no input, while
    // channel 0's output overwrites channel 1's core samples.
    for (int c = coreChannels - 1; c >= 0; --c) {
        ProcessChannel(d, d->ch[c], time + 1024 * c, hf[c], complex);
        float(*xRe)[64] = d->ch[c].high.re + kHfAdj;
        float(*xIm)[64] = d->ch[c].high.im + kHfAdj;
        if (ps) {
            d->ps.Apply(xRe, xIm, d->ch[0].low.re, d->ch[0].low.im, d->rRe, d->rIm);
            d->ch[0].synthesis.ProcessSlots(xRe, xIm, kSlots, time);
            d->ch[1].synthesis.ProcessSlots(d->rRe, d->rIm, kSlots, time + 2048);
        } else {
            d->ch[c].synthesis.ProcessSlots(xRe, complex ? xIm : nullptr, kSlots, time + 2048 * c);
        }
    }
    *channels = ps ? 2 : coreChannels;
    return kSbrStatusOk;
}

}  // namespace aurivane
