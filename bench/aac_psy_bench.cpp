// Frames per second of the AAC-LC encoder's psychoacoustic analysis
// (block switching, MDCT, thresholds, TNS) at 22050 Hz mono, 32 kbit/s.
#include "aacenc/aac_psy_model.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr int kRate = 22050;
constexpr int kFrames = 200;

// White noise at -16 dBFS.
std::vector<float> Noise() {
    std::mt19937 rng(1);
    std::normal_distribution<float> dist(0.0f, 5000.0f);
    std::vector<float> x(kFrames * 1024);
    for (float& v : x) v = std::nearbyint(dist(rng));
    return x;
}

// Plucked harmonic notes every 0.37 s over a low pad: attacks, decays and
// tonal stretches, so long, short and TNS frames all occur.
std::vector<float> Music() {
    std::vector<float> x(kFrames * 1024);
    const float notes[] = {220.0f, 277.2f, 329.6f, 440.0f, 164.8f};
    const int spacing = static_cast<int>(0.37 * kRate);
    for (size_t n = 0; n < x.size(); ++n) {
        const float t = static_cast<float>(n) / kRate;
        float v = 1500.0f * std::sin(6.2831853f * 110.0f * t) + 800.0f * std::sin(6.2831853f * 165.0f * t);
        const int note = static_cast<int>(n / spacing);
        const float age = static_cast<float>(n % spacing) / kRate;
        const float f0 = notes[note % 5];
        for (int h = 1; h <= 8; ++h)
            v += 6000.0f / h * std::exp(-age * (3.0f + h)) * std::sin(6.2831853f * f0 * h * age);
        x[n] = std::nearbyint(v);
    }
    return x;
}

void Run(benchmark::State& state, const std::vector<float>& input) {
    auto model = std::make_unique<aurivane::AacPsyModel>();
    auto out = std::make_unique<aurivane::PsyOutput>();
    if (model->Open(kRate, 32000, 1, 8000, 3) != 0) {
        state.SkipWithError("open failed");
        return;
    }
    int frame = 0;
    int shortFrames = 0;
    int tnsFrames = 0;
    for (auto _ : state) {
        model->Analyse(input.data() + frame * 1024, 1, out.get());
        benchmark::DoNotOptimize(out->spectrum);
        shortFrames += out->windowSequence == aurivane::kAacShortWindow;
        tnsFrames += out->tnsPresent;
        frame = (frame + 1) % kFrames;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["realtime"] =
        benchmark::Counter(1024.0 / kRate * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["short%"] = 100.0 * shortFrames / static_cast<double>(state.iterations());
    state.counters["tns%"] = 100.0 * tnsFrames / static_cast<double>(state.iterations());
}

void BM_PsyNoise(benchmark::State& state) { Run(state, Noise()); }
void BM_PsyMusic(benchmark::State& state) { Run(state, Music()); }
BENCHMARK(BM_PsyNoise);
BENCHMARK(BM_PsyMusic);

}  // namespace
