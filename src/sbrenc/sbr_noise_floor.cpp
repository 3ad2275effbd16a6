#include "sbrenc/sbr_noise_floor.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace aurivane {

namespace {

constexpr float kSmoothing[4] = {0.05857864f, 0.2f, 0.34142137f, 0.4f};  // oldest first
constexpr float kSilenceFloor = 0.000976562f;
constexpr float kSilenceTonality = 101.593666f;
constexpr float kNoiseFloorOffset = 6.0f;  // NOISE_FLOOR_OFFSET of the dequantisation

}  // namespace

void SbrNoiseFloor::Init(const SbrEncoderBandTables& tables, const SbrEncoderSettings& settings) {
    tables_ = &tables;
    maxLevelFactor_ = std::pow(2.0f, static_cast<float>(settings.maxLevelDb) / 3.0f);
    offsetFactor_ = std::pow(2.0f, static_cast<float>(settings.noiseFloorOffset) / 3.0f);
    weightFactor_ = settings.speechMode ? 1.0f : 0.25f;
    std::memset(history_, 0, sizeof(history_));
}

void SbrNoiseFloor::Estimate(const SbrTonality& tonality, const SbrFrameInfo& frame,
                             const int32_t invfMode[kSbrMaxNoiseBands], int harmonicsFrameFlag,
                             float values[2][kSbrMaxNoiseBands]) {
    const SbrEncoderBandTables& t = *tables_;
    const int numNoise = frame.numNoiseEnvelopes > 1 ? 2 : 1;
    for (int n = 0; n < numNoise; ++n) {
        // One noise envelope covers both estimates of the frame, two take one each.
        const int firstRow = kSbrTonalityNewRow + (numNoise == 2 ? n : 0);
        const int rows = numNoise == 2 ? 1 : 2;
        const float rowScale = 1.0f / static_cast<float>(rows);
        for (int q = 0; q < t.nNoise; ++q) {
            float g = 0.0f, h = 0.0f;
            const int lo = t.noise[q], hi = t.noise[q + 1];
            for (int k = lo; k < hi; ++k) {
                float sig = 0.0f, src = 0.0f;
                for (int r = firstRow; r < firstRow + rows; ++r) {
                    sig += tonality.Quota(r, k);
                    if (t.patchSource[k] != 255) src += tonality.Quota(r, t.patchSource[k]);
                }
                sig *= rowScale;
                src *= rowScale;
                if (harmonicsFrameFlag) {
                    g = std::max(g, sig);
                    h = std::max(h, src);
                } else {
                    g += sig;
                    h += src;
                }
            }
            if (!harmonicsFrameFlag && hi > lo) {
                g /= static_cast<float>(hi - lo);
                h /= static_cast<float>(hi - lo);
            }
            // A band without any tonality (silence) gets a fixed low floor.
            if (g < kSilenceFloor && h < kSilenceFloor) g = h = kSilenceTonality;
            g = std::max(g, 1.0f);
            h = std::max(h, 1.0f);
            float f = harmonicsFrameFlag ? 1.0f : std::max(1.0f, weightFactor_ * h / g);
            if (invfMode[q] != 3) f = 1.0f;
            const float noise = std::min(maxLevelFactor_, offsetFactor_ * f / g);
            float* hist = history_[q];
            hist[0] = hist[1];
            hist[1] = hist[2];
            hist[2] = hist[3];
            hist[3] = noise;
            const float smooth = kSmoothing[0] * hist[0] + kSmoothing[1] * hist[1] + kSmoothing[2] * hist[2] +
                                 kSmoothing[3] * hist[3];
            values[n][q] = kNoiseFloorOffset - std::log2(smooth);
        }
    }
}

}  // namespace aurivane
