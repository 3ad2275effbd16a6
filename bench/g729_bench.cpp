// G.729 frames per second: our EncodeFrame and DecodeFrame, and the
// independent Annex A peer library on the same material in the same run.
#include "g729/g729_codec.h"

#include <benchmark/benchmark.h>

extern "C" {
#include <bcg729/decoder.h>
#include <bcg729/encoder.h>
}

#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <vector>

namespace {

constexpr int kFrames = 500;  // 5 s of material, cycled

// Voiced-speech-like test signal: a harmonic series with a gliding pitch,
// a syllable-rate envelope and a little noise.
const std::vector<int16_t>& Material() {
    static const std::vector<int16_t> pcm = [] {
        std::vector<int16_t> x(kFrames * 80);
        double phase = 0;
        uint32_t noise = 12345;
        for (std::size_t n = 0; n < x.size(); ++n) {
            const double t = static_cast<double>(n) / 8000.0;
            const double f0 = 120.0 + 40.0 * std::sin(2 * std::numbers::pi * 0.7 * t);
            phase += 2 * std::numbers::pi * f0 / 8000.0;
            double v = 0;
            for (int h = 1; h <= 25; ++h) v += std::sin(h * phase) / h;
            const double envelope = 0.5 + 0.5 * std::sin(2 * std::numbers::pi * 3.0 * t);
            noise = noise * 1664525u + 1013904223u;
            v = 6000.0 * envelope * v + 300.0 * (static_cast<double>(noise >> 16) / 32768.0 - 1.0);
            x[n] = static_cast<int16_t>(std::lround(std::fmax(-32768.0, std::fmin(32767.0, v))));
        }
        return x;
    }();
    return pcm;
}

// Frames of the material from our encoder, for the decoders.
const std::vector<uint8_t>& Frames() {
    static const std::vector<uint8_t> frames = [] {
        auto enc = std::make_unique<aurivane::G729EncoderState>();
        std::vector<uint8_t> out(kFrames * 10);
        for (int k = 0; k < kFrames; ++k) enc->EncodeFrame(&Material()[80 * k], &out[10 * k]);
        return out;
    }();
    return frames;
}

void BM_OursEncodeFrame(benchmark::State& state) {
    auto enc = std::make_unique<aurivane::G729EncoderState>();
    const std::vector<int16_t>& pcm = Material();
    uint8_t frame[10];
    int k = 0;
    for (auto _ : state) {
        enc->EncodeFrame(&pcm[80 * k], frame);
        benchmark::DoNotOptimize(frame);
        k = (k + 1) % kFrames;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OursEncodeFrame);

void BM_PeerEncodeFrame(benchmark::State& state) {
    bcg729EncoderChannelContextStruct* enc = initBcg729EncoderChannel(0);
    const std::vector<int16_t>& pcm = Material();
    uint8_t frame[10];
    uint8_t length = 0;
    int k = 0;
    for (auto _ : state) {
        bcg729Encoder(enc, &pcm[80 * k], frame, &length);
        benchmark::DoNotOptimize(frame);
        k = (k + 1) % kFrames;
    }
    closeBcg729EncoderChannel(enc);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PeerEncodeFrame);

void BM_OursDecodeFrame(benchmark::State& state) {
    auto dec = std::make_unique<aurivane::G729DecoderState>();
    const std::vector<uint8_t>& frames = Frames();
    int16_t pcm[80];
    int k = 0;
    for (auto _ : state) {
        dec->DecodeFrame(&frames[10 * k], pcm);
        benchmark::DoNotOptimize(pcm);
        k = (k + 1) % kFrames;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OursDecodeFrame);

void BM_PeerDecodeFrame(benchmark::State& state) {
    bcg729DecoderChannelContextStruct* dec = initBcg729DecoderChannel();
    const std::vector<uint8_t>& frames = Frames();
    int16_t pcm[80];
    int k = 0;
    for (auto _ : state) {
        bcg729Decoder(dec, &frames[10 * k], 10, 0, 0, 0, pcm);
        benchmark::DoNotOptimize(pcm);
        k = (k + 1) % kFrames;
    }
    closeBcg729DecoderChannel(dec);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PeerDecodeFrame);

}  // namespace
