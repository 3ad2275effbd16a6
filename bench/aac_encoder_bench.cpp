// HE-AAC v2 encoding speed at 44.1 kHz stereo, 32 kbit/s: the AacEncoder
// object as a host drives it, and its stages one by one on the same input
// (64-band QMF analysis of both channels, parametric stereo, the 32-band
// synthesis that makes the core signal, the whole SBR encoder frame, the
// AAC-LC core). "realtime" is seconds of audio coded per second. Also
// reports the object's size and what its Open allocates.
#include <benchmark/benchmark.h>

#include <aurivane/aurivane.h>

#include "engine/aac_encoder_filter.h"
#include "sbrenc/sbr_encoder_config.h"

#include <malloc.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

using namespace aurivane;

constexpr int kRate = 44100;
constexpr int kFrame = 2048;  // input sample periods per access unit

// 10 s of stereo music: plucked harmonics panned left, a pad right, a bass
// line in the middle and a little noise, at the 16-bit scale.
const std::vector<int16_t>& Stereo() {
    static const std::vector<int16_t> pcm = [] {
        std::vector<int16_t> out(2 * kRate * 10);
        const double notes[] = {220.0, 277.2, 329.6, 440.0, 369.9, 293.7};
        uint32_t seed = 7;
        for (std::size_t n = 0; n < out.size() / 2; ++n) {
            const double t = double(n) / kRate;
            const int note = static_cast<int>(t * 4) % 6;
            const double age = t - std::floor(t * 4) / 4;
            double pluck = 0;
            for (int h = 1; h <= 12; ++h) pluck += std::sin(2 * M_PI * notes[note] * h * t) * std::exp(-age * 5 * h) / h;
            const double pad = std::sin(2 * M_PI * 164.8 * t) + 0.5 * std::sin(2 * M_PI * 246.9 * t);
            const double bass = std::sin(2 * M_PI * 55.0 * t);
            seed = seed * 1664525u + 1013904223u;
            const double noise = (double(seed >> 8) / 8388608.0 - 1.0) * 0.05;
            out[2 * n] = static_cast<int16_t>(6000 * (pluck + 0.3 * pad + 0.5 * bass + noise));
            out[2 * n + 1] = static_cast<int16_t>(6000 * (0.3 * pluck + pad + 0.5 * bass + noise));
        }
        return out;
    }();
    return pcm;
}

WAVEFORMATEX Format() {
    WAVEFORMATEX f{};
    f.wFormatTag = 1;
    f.nChannels = 2;
    f.nSamplesPerSec = kRate;
    f.wBitsPerSample = 16;
    f.nBlockAlign = 4;
    f.nAvgBytesPerSec = kRate * 4;
    return f;
}

class NullSink final : public AudioSink {
public:
    int32_t Process(const void*, uint32_t byteCount) override {
        bytes += byteCount;
        return 1;
    }
    std::size_t bytes = 0;
};

void SetRealtime(benchmark::State& state, double framesPerIteration) {
    state.counters["realtime"] = benchmark::Counter(double(state.iterations()) * framesPerIteration * kFrame / kRate,
                                                    benchmark::Counter::kIsRate);
}

// The object as a host drives it: 16 frames per Process call.
void BM_AacEncoderObject(benchmark::State& state) {
    const std::vector<int16_t>& pcm = Stereo();
    void* object = CreateObject(&kAacEncoderId);
    auto* encoder = static_cast<AacEncoderInterface*>(object);
    NullSink sink;
    const WAVEFORMATEX format = Format();
    if (encoder == nullptr || (encoder->AddSink(&sink), encoder->Open(&format, 32000)) != 1) {
        state.SkipWithError("AacEncoder missing or refused 44.1 kHz stereo at 32 kbit/s");
        DestroyObject(&kAacEncoderId, object);
        return;
    }
    constexpr std::size_t kCall = 16 * kFrame * 2;  // values per call
    std::size_t pos = 0;
    for (auto _ : state) {
        if (pos + kCall > pcm.size()) pos = 0;
        encoder->Process(pcm.data() + pos, kCall * 2);
        pos += kCall;
    }
    SetRealtime(state, 16);
    DestroyObject(&kAacEncoderId, object);
}
BENCHMARK(BM_AacEncoderObject);

// The stages, each timed alone on frames of the same input as floats, with
// encoders opened as the object opens them.
struct Stages {
    SbrEncoderSettings settings = {};
    int32_t bandwidth = 0;
    std::vector<float> input;  // interleaved, whole frames
    int frames = 0;

    Stages() {
        SbrDefaultSettings(&settings);
        settings.usePs = 1;
        SbrAdjustSettings(&settings, 32000, 1, kRate / 2, 8, 24000);
        auto probe = std::make_unique<SbrEncoder>();
        SbrEncoder* handle = nullptr;
        if (SbrEncoderOpen(probe.get(), &handle, &settings, &bandwidth) != 0) return;
        const std::vector<int16_t>& pcm = Stereo();
        input.assign(pcm.begin(), pcm.end());
        frames = static_cast<int>(input.size() / (2 * kFrame));
    }
    const float* Frame(int f) const { return input.data() + std::size_t(f % frames) * 2 * kFrame; }
    std::unique_ptr<SbrEncoder> OpenSbr() const {
        auto sbr = std::make_unique<SbrEncoder>();
        SbrEncoder* handle = nullptr;
        int32_t bw = 0;
        SbrEncoderOpen(sbr.get(), &handle, &settings, &bw);
        return sbr;
    }
};

Stages& GetStages() {
    static Stages stages;
    return stages;
}

void BM_StageQmfAnalysis(benchmark::State& state) {
    Stages& s = GetStages();
    if (s.frames == 0) return state.SkipWithError("open failed");
    auto bank = std::make_unique<SbrQmfAnalysis[]>(2);
    auto frame = std::make_unique<SbrQmfFrame>();
    int f = 0;
    for (auto _ : state) {
        for (int c = 0; c < 2; ++c) bank[c].Process(s.Frame(f) + c, 2, frame.get());
        benchmark::DoNotOptimize(frame->re[0][0]);
        ++f;
    }
    SetRealtime(state, 1);
}
BENCHMARK(BM_StageQmfAnalysis);

void BM_StagePs(benchmark::State& state) {
    Stages& s = GetStages();
    if (s.frames == 0) return state.SkipWithError("open failed");
    auto bank = std::make_unique<SbrQmfAnalysis[]>(2);
    auto ch = std::make_unique<SbrQmfFrame[]>(2);
    auto work = std::make_unique<SbrQmfFrame>();
    auto ps = std::make_unique<PsEncoder>();
    if (ps->Open(s.settings.psMode) != 0) return state.SkipWithError("PS open failed");
    for (int c = 0; c < 2; ++c) bank[c].Process(s.Frame(0) + c, 2, &ch[c]);
    for (auto _ : state) {
        *work = ch[0];
        ps->EncodeFrame(work.get(), &ch[1], false);
        benchmark::DoNotOptimize(work->re[0][0]);
    }
    SetRealtime(state, 1);
}
BENCHMARK(BM_StagePs);

void BM_StageSynthesis(benchmark::State& state) {
    Stages& s = GetStages();
    if (s.frames == 0) return state.SkipWithError("open failed");
    SbrQmfAnalysis bank;
    auto frame = std::make_unique<SbrQmfFrame>();
    bank.Process(s.Frame(0), 2, frame.get());
    QmfSynthesis32 synthesis;
    std::vector<float> core(1024);
    for (auto _ : state) {
        synthesis.Process(*frame, core.data());
        benchmark::DoNotOptimize(core[0]);
    }
    SetRealtime(state, 1);
}
BENCHMARK(BM_StageSynthesis);

// The whole SBR encoder frame: both analyses, PS, synthesis and the SBR
// analysis and payload; the SBR analysis alone is this less the three above.
void BM_StageSbrEncoderFrame(benchmark::State& state) {
    Stages& s = GetStages();
    if (s.frames == 0) return state.SkipWithError("open failed");
    auto sbr = s.OpenSbr();
    std::vector<float> core(1024);
    uint8_t payload[kSbrMaxPayloadBytes];
    int f = 0;
    for (auto _ : state) {
        int32_t bytes = 0;
        sbr->EncodeFrame(s.Frame(f++), core.data(), 1, &bytes, payload);
        benchmark::DoNotOptimize(bytes);
    }
    SetRealtime(state, 1);
}
BENCHMARK(BM_StageSbrEncoderFrame);

void BM_StageCore(benchmark::State& state) {
    Stages& s = GetStages();
    if (s.frames == 0) return state.SkipWithError("open failed");
    // The core signals and payloads the SBR encoder makes of the input.
    auto sbr = s.OpenSbr();
    std::vector<float> core(std::size_t(s.frames) * 1024);
    std::vector<uint8_t> payloads(std::size_t(s.frames) * kSbrMaxPayloadBytes);
    std::vector<int32_t> payloadBytes(std::size_t(s.frames));
    for (int f = 0; f < s.frames; ++f) {
        sbr->EncodeFrame(s.Frame(f), core.data() + std::size_t(f) * 1024, 1, &payloadBytes[std::size_t(f)],
                         payloads.data() + std::size_t(f) * kSbrMaxPayloadBytes);
    }
    AacCoreConfig config;
    config.sampleRate = kRate / 2;
    config.bitRate = 32000;
    config.inputChannels = 2;
    config.outputChannels = 1;
    config.bandwidth = s.bandwidth;
    config.maxFrameBytes = AacEncoderFilter::kMaxAccessUnitBytes;
    AacCoreEncoder* enc = nullptr;
    if (AacCoreOpen(&enc, config) != 0) return state.SkipWithError("core open failed");
    uint8_t out[768];
    int f = 0;
    for (auto _ : state) {
        const std::size_t i = std::size_t(f++ % s.frames);
        int bytes = 0;
        AacCoreEncodeFrame(enc, core.data() + i * 1024, 1, payloads.data() + i * kSbrMaxPayloadBytes,
                           payloadBytes[i], out, &bytes);
        benchmark::DoNotOptimize(bytes);
    }
    SetRealtime(state, 1);
    AacCoreClose(enc);
}
BENCHMARK(BM_StageCore);

// Not timed: the object's footprint (its size, and the heap that creating
// and opening it take, from the allocator's own count), printed once.
std::size_t HeapInUse() {
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;  // small blocks and the mmapped large ones
}

void BM_AacEncoderMemory(benchmark::State& state) {
    const std::size_t before = HeapInUse();
    void* object = CreateObject(&kAacEncoderId);
    const std::size_t created = HeapInUse();
    const WAVEFORMATEX format = Format();
    const int32_t opened = object != nullptr ? static_cast<AacEncoderInterface*>(object)->Open(&format, 32000) : 0;
    const std::size_t open = HeapInUse();
    DestroyObject(&kAacEncoderId, object);
    for (auto _ : state) benchmark::DoNotOptimize(opened);
    state.counters["sizeof"] = double(sizeof(AacEncoderFilter));
    state.counters["heap_create"] = double(created - before);
    state.counters["heap_open"] = double(open - created);
}
BENCHMARK(BM_AacEncoderMemory)->Iterations(1);

}  // namespace
