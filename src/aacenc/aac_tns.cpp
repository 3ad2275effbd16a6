#include "aacenc/aac_tns.h"

#include <cmath>
#include <cstring>

namespace aurivane {

namespace {

constexpr double kPi = 3.14159265358979323846;

struct TnsParams {
    int32_t minRate, maxRate;
    float threshOn[2];  // long, short
    int32_t lpcStartFreq[2];
    int32_t lpcStopFreq[2];
    float timeResolution[2];
};

// One channel, by bitrate per channel (inclusive ranges).
constexpr TnsParams kTnsParams[] = {
    {4000, 12000, {1.2f, 1.2f}, {1800, 2500}, {16000, 16000}, {0.6f, 0.6f}},
    {12001, 20000, {1.2f, 1.2f}, {2000, 3750}, {16000, 16000}, {0.6f, 0.6f}},
    {20001, 28000, {1.41f, 1.41f}, {2500, 3750}, {16000, 16000}, {0.5f, 0.5f}},
    {28001, 44001, {1.41f, 1.41f}, {2500, 3750}, {16000, 16000}, {0.8f, 0.3f}},
};

struct TnsMaxBandsRow {
    int32_t rate;
    int32_t longBands, shortBands;
};

constexpr TnsMaxBandsRow kTnsMaxBands[] = {
    {48000, 40, 14}, {44100, 42, 14}, {32000, 51, 14}, {24000, 46, 14}, {22050, 46, 14},
    {16000, 42, 14}, {12000, 42, 14}, {11025, 42, 14}, {8000, 39, 14},
};

// Reconstruction values of the TNS coefficient indices (ISO/IEC 14496-3
// dequantisation) and the decision values between them: the largest i with
// coefficient > decision[i] is the index nearest in the arcsine domain.
struct QuantTables {
    float decision[2][16];     // [0]: 3 bits (8 used), [1]: 4 bits
    float reconstruct[2][16];  // index + 2^(res-1)
    QuantTables() {
        for (int r = 0; r < 2; ++r) {
            const int res = 3 + r;
            const int half = 1 << (res - 1);
            const double iqfac = (half - 0.5) / (kPi / 2.0);
            const double iqfacM = (half + 0.5) / (kPi / 2.0);
            double angle[16];
            for (int i = 0; i < 2 * half; ++i) {
                const int index = i - half;
                angle[i] = index / (index >= 0 ? iqfac : iqfacM);
                reconstruct[r][i] = static_cast<float>(std::sin(angle[i]));
            }
            decision[r][0] = -1.0f;
            for (int i = 1; i < 2 * half; ++i)
                decision[r][i] = static_cast<float>(std::sin(0.5 * (angle[i - 1] + angle[i])));
        }
    }
};

const QuantTables& Quant() {
    static const QuantTables tables;
    return tables;
}

int32_t QuantiseCoefficient(float k, int coefRes) {
    const QuantTables& q = Quant();
    const int r = coefRes == 4 ? 1 : 0;
    const int half = 1 << (coefRes - 1);
    int position = 0;
    for (int i = 0; i < 2 * half; ++i) {
        if (k > q.decision[r][i]) position = i;
    }
    return position - half;
}

float DequantiseCoefficient(int32_t index, int coefRes) {
    const int r = coefRes == 4 ? 1 : 0;
    return Quant().reconstruct[r][index + (1 << (coefRes - 1))];
}

// Four partial sums, so that the loop vectorises without reassociation.
float DotProduct(const float* a, const float* b, int32_t n) {
    float acc[4] = {};
    int32_t i = 0;
    for (; i + 4 <= n; i += 4) {
        for (int j = 0; j < 4; ++j) acc[j] += a[i + j] * b[i + j];
    }
    for (; i < n; ++i) acc[0] += a[i] * b[i];
    return (acc[0] + acc[1]) + (acc[2] + acc[3]);
}

// Band edges are multiples of four lines: blocks of four vectorise.
void WeightLines(float* __restrict weights, const float* __restrict lines, int32_t n) {
    for (int32_t i = 0; i + 4 <= n; i += 4) {
        for (int q = 0; q < 4; ++q) weights[i + q] *= lines[i + q];
    }
}

}  // namespace

int32_t TnsFreqToBand(int32_t freq, int32_t sampleRate, const int32_t* sfbOffset, int32_t sfbCnt) {
    const int32_t top = sfbOffset[sfbCnt];
    const int32_t line = static_cast<int32_t>((static_cast<int64_t>(freq) * top * 4 / sampleRate + 1) / 2);
    if (line >= top) return sfbCnt;
    int32_t band = 0;
    while (band + 1 < sfbCnt && sfbOffset[band + 1] <= line) ++band;
    if (sfbOffset[band + 1] - line < line - sfbOffset[band]) ++band;
    return band;
}

int TnsConfigInit(TnsConfig* c, int bitRatePerChannel, int sampleRate, int enabled, bool shortBlock,
                  const int32_t* sfbOffset, int32_t sfbCnt, int32_t sfbActive, int32_t lowpassLine) {
    std::memset(c, 0, sizeof(*c));
    const int type = shortBlock ? 1 : 0;
    const TnsParams* params = nullptr;
    for (const TnsParams& p : kTnsParams) {
        if (bitRatePerChannel >= p.minRate && bitRatePerChannel <= p.maxRate) params = &p;
    }
    c->threshOn = -1.0f;
    c->maxBands = -1;
    for (const TnsMaxBandsRow& row : kTnsMaxBands) {
        if (row.rate == sampleRate) c->maxBands = shortBlock ? row.shortBands : row.longBands;
    }
    if (params == nullptr || c->maxBands < 0) return 1;

    c->active = enabled;
    c->maxOrder = shortBlock ? 5 : 12;
    c->coefRes = shortBlock ? 3 : 4;
    c->threshOn = params->threshOn[type];
    c->sfbCnt = sfbCnt;
    c->lowpassLine = lowpassLine;

    const double lines = shortBlock ? 128.0 : 1024.0;
    const double lag = sampleRate * kPi * 0.001 * params->timeResolution[type] / lines;
    for (int k = 0; k <= c->maxOrder; ++k)
        c->acfWindow[k] = static_cast<float>(std::exp(-0.5 * lag * lag * (k + 0.5) * (k + 0.5)));

    c->stopBand = sfbCnt < c->maxBands ? sfbCnt : c->maxBands;
    c->stopLine = sfbOffset[c->stopBand];
    c->startBand = TnsFreqToBand(shortBlock ? 2750 : 1275, sampleRate, sfbOffset, sfbCnt);
    c->startLine = sfbOffset[c->startBand];
    c->lpcStartBand = TnsFreqToBand(params->lpcStartFreq[type], sampleRate, sfbOffset, sfbCnt);
    c->lpcStartLine = sfbOffset[c->lpcStartBand];
    const int32_t stop = TnsFreqToBand(params->lpcStopFreq[type], sampleRate, sfbOffset, sfbCnt);
    c->lpcStopBand = stop < sfbActive ? stop : sfbActive;
    c->lpcStopLine = sfbOffset[c->lpcStopBand];
    c->patchLowBand = TnsFreqToBand(380, sampleRate, sfbOffset, sfbCnt);
    return 0;
}

float TnsLevinson(const float* r, int order, float* parcor) {
    float a[kAacMaxTnsOrder + 1] = {1.0f};
    float previous[kAacMaxTnsOrder + 1];
    float error = r[0];
    for (int m = 0; m < order; ++m) parcor[m] = 0.0f;
    for (int m = 1; m <= order; ++m) {
        float acc = r[m];
        for (int j = 1; j < m; ++j) acc += a[j] * r[m - j];
        // |k| >= 1 (or a zero error) means the recursion has lost stability;
        // keep the stages found so far.
        if (!(std::fabs(acc) < error)) break;
        const float k = -acc / error;
        parcor[m - 1] = k;
        std::memcpy(previous, a, sizeof(a));
        for (int j = 1; j < m; ++j) a[j] = previous[j] + k * previous[m - j];
        a[m] = k;
        error *= 1.0f - k * k;
    }
    return (r[0] + 1e-30f) / (error + 1e-30f);
}

void TnsDetect(const TnsConfig& c, const float* spectrum, const int32_t* sfbOffset, const float* sfbEnergy,
               float* weights, TnsWindowData* data) {
    data->active = 0;
    data->predictionGain = 0.0f;
    std::memset(data->parcor, 0, sizeof(data->parcor));
    if (!c.active) return;
    const int32_t begin = c.lpcStartLine;
    const int32_t end = c.lpcStopLine;
    float r[kAacMaxTnsOrder + 1] = {};
    if (end - begin > 0) {
        // Each band normalised to unit energy, so that the predictor follows
        // the temporal envelope rather than the spectral tilt; the weights
        // are smoothed across band edges in both directions.
        for (int32_t b = c.lpcStartBand; b < c.lpcStopBand; ++b) {
            const float w = 1.0f / std::sqrt(sfbEnergy[b] + 1e-30f);
            const int32_t top = b + 1 < c.lpcStopBand ? sfbOffset[b + 1] : end;
            for (int32_t l = sfbOffset[b]; l < top; ++l) weights[l] = w;
        }
        for (int32_t l = end - 2; l >= begin; --l) weights[l] = (weights[l] + weights[l + 1]) * 0.5f;
        for (int32_t l = begin + 1; l < end; ++l) weights[l] = (weights[l] + weights[l - 1]) * 0.5f;
        WeightLines(weights + begin, spectrum + begin, end - begin);
        const float* x = weights + begin;
        const int32_t n = end - begin;
        for (int k = 0; k <= c.maxOrder && k < n; ++k) r[k] = DotProduct(x, x + k, n - k) * c.acfWindow[k];
    }
    data->predictionGain = TnsLevinson(r, c.maxOrder, data->parcor);
    data->active = data->predictionGain > c.threshOn ? 1 : 0;
}

void TnsEncode(const TnsConfig& c, bool shortBlock, int window, TnsWindowData* data, float* spectrum,
               TnsInfo* info) {
    int32_t index[kAacMaxTnsOrder];
    float k[kAacMaxTnsOrder];
    for (int m = 0; m < c.maxOrder; ++m) {
        index[m] = QuantiseCoefficient(data->parcor[m], c.coefRes);
        k[m] = DequantiseCoefficient(index[m], c.coefRes);
        data->parcor[m] = k[m];
    }
    int order = c.maxOrder;
    while (order > 0 && std::fabs(k[order - 1]) <= 0.1f) --order;
    const int32_t top = shortBlock ? c.stopLine : (c.stopLine < c.lowpassLine ? c.stopLine : c.lowpassLine);
    const int32_t count = top - c.startLine;
    // An empty filter or range would cost side information for nothing.
    if (order == 0 || count <= 0) {
        data->active = 0;
        info->active[window] = 0;
        return;
    }

    info->active[window] = 1;
    info->coefRes[window] = c.coefRes;
    info->length[window] = c.sfbCnt - c.startBand;
    info->order[window] = order;
    for (int m = 0; m < kAacMaxTnsOrder; ++m) info->coef[window][m] = m < order ? index[m] : 0;
    if (!shortBlock) {
        for (int w = 1; w < 8; ++w) info->active[w] = 0;
    }

    // The all-zero lattice of the reflection coefficients, run in its direct
    // form A(z) = 1 + sum a_j z^-j (the step-up recursion the decoder's
    // synthesis filter 1/A(z) also uses): every output line depends on input
    // lines only, so the loop vectorises. State cleared: no input below
    // startLine.
    float a[kAacMaxTnsOrder + 1] = {1.0f};
    float previous[kAacMaxTnsOrder + 1];
    for (int m = 1; m <= order; ++m) {
        std::memcpy(previous, a, sizeof(a));
        for (int j = 1; j < m; ++j) a[j] = previous[j] + k[m - 1] * previous[m - j];
        a[m] = k[m - 1];
    }
    // Local copies cannot alias, and blocks of four lines vectorise without
    // a runtime check.
    float input[kAacMaxTnsOrder + kAacFrameLength + 4];
    float output[kAacFrameLength + 4];
    float* x = spectrum + c.startLine;
    std::memset(input, 0, sizeof(float) * kAacMaxTnsOrder);
    std::memcpy(input + kAacMaxTnsOrder, x, sizeof(float) * count);
    std::memset(input + kAacMaxTnsOrder + count, 0, sizeof(float) * 4);
    const float* in = input + kAacMaxTnsOrder;
    const int32_t blocks = (count + 3) / 4;
    for (int32_t i = 0; i < 4 * blocks; ++i) output[i] = i < count ? in[i] : 0.0f;
    for (int j = 1; j <= order; ++j) {
        const float aj = a[j];
        const float* delayed = in - j;
        for (int32_t b = 0; b < blocks; ++b) {
            for (int q = 0; q < 4; ++q) output[4 * b + q] += aj * delayed[4 * b + q];
        }
    }
    std::memcpy(x, output, sizeof(float) * count);
}

}  // namespace aurivane
