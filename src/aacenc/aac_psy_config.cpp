#include "aacenc/aac_psy_config.h"

#include "dsp/aac_tables.h"

#include <cmath>
#include <cstring>

namespace aurivane {

namespace {

// Threshold in quiet by Bark, dB.
constexpr float kQuietDb[25] = {15, 10, 7, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 5, 10, 20, 30};

constexpr float kHalfPi = 1.5707963f;

float FastAtan(float x) {
    if (x < 1.0f) return x / (1.0f + 0.280872f * x * x);
    return kHalfPi - x / (x * x + 0.280872f);
}

float BarkOf(float f) {
    const float a = FastAtan(f * 0.000133333f);
    return 13.3f * FastAtan(0.00076f * f) + 3.5f * a * a;
}

}  // namespace

bool PsyBandOffsets(int sampleRate, bool shortBlock, int32_t* offsets, int32_t* count) {
    // The encoder is tuned for the core rates of the 16 and 24 kHz band families only.
    if (sampleRate != 11025 && sampleRate != 12000 && sampleRate != 16000 && sampleRate != 22050 &&
        sampleRate != 24000)
        return false;
    for (const BandTable& t : kBandTables) {
        if (t.rate != sampleRate) continue;
        const uint16_t* src = shortBlock ? t.shortOffsets : t.longOffsets;
        *count = shortBlock ? t.numShort : t.numLong;
        for (int32_t i = 0; i <= *count; ++i) offsets[i] = src[i];
        return true;
    }
    return false;
}

int PsyConfigInit(PsyConfig* c, int sampleRate, int bitRatePerChannel, int bandwidth, bool shortBlock,
                  int tnsEnabled) {
    std::memset(c, 0, sizeof(*c));
    if (!PsyBandOffsets(sampleRate, shortBlock, c->sfbOffset, &c->sfbCnt)) return 1;
    const int32_t n = c->sfbCnt;
    const int32_t lines = shortBlock ? 128 : 1024;

    // Bark value of a band: mean of the values at its edges.
    float lowerBark = 0.0f;
    for (int32_t i = 0; i < n; ++i) {
        const float f = static_cast<float>(sampleRate) * 0.5f * static_cast<float>(c->sfbOffset[i + 1]) /
                        static_cast<float>(lines);
        const float upperBark = BarkOf(f);
        c->bark[i] = 0.5f * (lowerBark + upperBark);
        lowerBark = upperBark;
    }

    for (int32_t i = 0; i < n; ++i) {
        int lower = i == 0 ? static_cast<int>(c->bark[0]) / 2 : static_cast<int>(c->bark[i - 1] + c->bark[i]) / 2;
        int upper = i == n - 1 ? static_cast<int>(c->bark[i]) : static_cast<int>(c->bark[i] + c->bark[i + 1]) / 2;
        if (lower > 24) lower = 24;
        if (upper > 24) upper = 24;
        const float level = std::fmin(kQuietDb[lower], kQuietDb[upper]);
        const int32_t width = c->sfbOffset[i + 1] - c->sfbOffset[i];
        c->thrQuiet[i] = std::pow(10.0f, (level - 20.0f) * 0.1f) * 16887.8f * static_cast<float>(width);
    }

    // Spreading slopes in dB per Bark: 15 upward and 30 downward for the
    // thresholds; the spread energies fall faster upward at higher rates.
    const float highSprEn = (shortBlock || bitRatePerChannel <= 22000) ? 1.5f : 2.0f;
    const float lowSprEn = shortBlock ? 2.0f : 3.0f;
    for (int32_t i = 1; i < n; ++i) {
        const float d = c->bark[i] - c->bark[i - 1];
        c->maskHigh[i] = std::pow(10.0f, -1.5f * d);
        c->maskLow[i - 1] = std::pow(10.0f, -3.0f * d);
        c->maskHighSprEn[i] = std::pow(10.0f, -d * highSprEn);
        c->maskLowSprEn[i - 1] = std::pow(10.0f, -d * lowSprEn);
    }

    c->maxAllowedIncrease = 2.0f;
    c->minRemainingThreshold = 0.01f;
    c->clipEnergy = shortBlock ? 1.0e9f / 64.0f : 1.0e9f;
    c->ratio = 0.0012589249f;
    if (bandwidth < 0) bandwidth = 0;
    int64_t lowpass = static_cast<int64_t>(bandwidth) * (shortBlock ? 256 : 2048) / sampleRate;
    if (lowpass > lines) lowpass = lines;
    c->lowpassLine = static_cast<int32_t>(lowpass);
    c->sfbActive = n;
    for (int32_t i = 0; i < n; ++i) {
        if (c->sfbOffset[i] >= c->lowpassLine) {
            c->sfbActive = i;
            break;
        }
    }

    // Minimum SNR: the PE a window may spend, spread evenly over the Bark
    // scale, sets how far each band's noise may rise towards its energy.
    for (int32_t i = 0; i < n; ++i) c->minSnr[i] = 0.8f;
    if (c->sfbActive > 0) {
        const float pePerWindow =
            1.18f * static_cast<float>(bitRatePerChannel) / static_cast<float>(sampleRate) * static_cast<float>(lines);
        const float barkFactor = std::fmin(c->bark[c->sfbActive - 1] / 24.0f, 1.0f);
        float edge = 0.0f;
        for (int32_t i = 0; i < c->sfbActive; ++i) {
            const float next = 2.0f * c->bark[i] - edge;
            const float width = next - edge;
            edge = next;
            const float x = pePerWindow * 0.024f / barkFactor * width /
                            static_cast<float>(c->sfbOffset[i + 1] - c->sfbOffset[i]);
            float snr = 1.0f / std::fmax(std::pow(2.0f, x) - 1.5f, 1.0f);
            snr = std::fmin(snr, 0.8f);
            c->minSnr[i] = std::fmax(snr, 0.003f);
        }
    }

    return TnsConfigInit(&c->tns, bitRatePerChannel, sampleRate, tnsEnabled, shortBlock, c->sfbOffset, n,
                         c->sfbActive, c->lowpassLine);
}

}  // namespace aurivane
