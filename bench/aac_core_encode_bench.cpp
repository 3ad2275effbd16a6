// AAC-LC core encoding speed at 22.05 kHz mono, 32 kbit/s: frames per
// second of AacCoreEncodeFrame on speech (the G.729 test talker, upsampled
// linearly from 8 kHz), a synthetic music item (decaying plucked harmonics
// over a bass line) and white noise. "realtime" is seconds of audio coded
// per second.
#include <benchmark/benchmark.h>

#include "aacenc/aac_core_encoder.h"
#include "wav_file.h"

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 22050;

std::vector<float> Speech() {
    aurivane::WavData wav;
    std::string error;
    std::vector<float> out;
    if (!aurivane::ReadWav(std::string(AURIVANE_TEST_DATA_DIR) + "/g729/us_male.wav", &wav, &error) ||
        wav.samples.size() < 2)
        return out;
    const double step = static_cast<double>(wav.sampleRate) / kRate;
    for (double t = 0; t + 1 < wav.samples.size(); t += step) {
        const auto i = static_cast<std::size_t>(t);
        const double f = t - static_cast<double>(i);
        out.push_back(static_cast<float>((1 - f) * wav.samples[i] + f * wav.samples[i + 1]));
    }
    return out;
}

std::vector<float> Music() {
    std::vector<float> out(kRate * 10);
    const double notes[] = {220.0, 277.2, 329.6, 440.0, 369.9, 293.7};
    for (std::size_t n = 0; n < out.size(); ++n) {
        const double t = static_cast<double>(n) / kRate;
        const int note = static_cast<int>(t * 4) % 6;
        const double age = t - std::floor(t * 4) / 4;
        double v = 0;
        for (int h = 1; h <= 8; ++h) v += std::sin(2 * M_PI * notes[note] * h * t) * std::exp(-age * 6 * h) / h;
        v += 0.5 * std::sin(2 * M_PI * 55.0 * t);
        out[n] = static_cast<float>(6000 * v);
    }
    return out;
}

std::vector<float> Noise() {
    std::vector<float> out(kRate * 10);
    std::mt19937 rng(3);
    std::normal_distribution<float> d(0.0f, 4000.0f);
    for (float& v : out) v = d(rng);
    return out;
}

void Encode(benchmark::State& state, const std::vector<float>& signal) {
    if (signal.size() < 1024) {
        state.SkipWithError("input missing");
        return;
    }
    aurivane::AacCoreConfig config;
    config.sampleRate = kRate;
    config.bitRate = 32000;
    config.inputChannels = 1;
    config.outputChannels = 1;
    config.bandwidth = 8000;
    aurivane::AacCoreEncoder* enc = nullptr;
    if (aurivane::AacCoreOpen(&enc, config) != 0) {
        state.SkipWithError("open failed");
        return;
    }
    uint8_t out[768];
    std::size_t pos = 0;
    for (auto _ : state) {
        if (pos + 1024 > signal.size()) pos = 0;
        int bytes = 0;
        aurivane::AacCoreEncodeFrame(enc, signal.data() + pos, 1, nullptr, 0, out, &bytes);
        benchmark::DoNotOptimize(bytes);
        pos += 1024;
    }
    const double frames = static_cast<double>(state.iterations());
    state.counters["frames/s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["realtime"] = benchmark::Counter(frames * 1024.0 / kRate, benchmark::Counter::kIsRate);
    aurivane::AacCoreClose(enc);
}

void BM_CoreEncodeSpeech(benchmark::State& s) {
    static const std::vector<float> input = Speech();
    Encode(s, input);
}
void BM_CoreEncodeMusic(benchmark::State& s) {
    static const std::vector<float> input = Music();
    Encode(s, input);
}
void BM_CoreEncodeNoise(benchmark::State& s) {
    static const std::vector<float> input = Noise();
    Encode(s, input);
}
BENCHMARK(BM_CoreEncodeSpeech);
BENCHMARK(BM_CoreEncodeMusic);
BENCHMARK(BM_CoreEncodeNoise);

}  // namespace
