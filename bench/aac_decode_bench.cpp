// AAC-LC decoding speed: the core decoder over ADTS streams at 22.05 kHz
// (mono and stereo, from tests/data/aacdec) and at 44.1 kHz (the shared
// third-party stereo sample, when present), and the AacDecoder filter over
// packet streams. Counters: frames per second and "realtime", seconds of
// audio decoded per second. bench/speed.sh times the program against ffmpeg
// and faad as whole processes.
#include <aurivane/aurivane.h>
#include <benchmark/benchmark.h>

#include "aacdec/aac_core_decoder.h"
#include "adts_reader.h"

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

bool ReadFile(const std::string& path, std::vector<uint8_t>* out) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    out->assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return !out->empty();
}

struct Blocks {
    int sampleRate = 0;
    std::vector<std::vector<uint8_t>> blocks;
};

bool LoadBlocks(const std::string& path, Blocks* out) {
    std::vector<uint8_t> s;
    if (!ReadFile(path, &s)) return false;
    aurivane::AdtsReader reader(s.data(), s.size());
    aurivane::AdtsFrame f;
    while (reader.Next(&f)) {
        out->sampleRate = f.header.sampleRate;
        for (int i = 0; i < f.blockCount; ++i) out->blocks.emplace_back(f.blocks[i].data, f.blocks[i].data + f.blocks[i].size);
    }
    return !out->blocks.empty();
}

void CoreDecode(benchmark::State& state, const std::string& path) {
    Blocks in;
    if (!LoadBlocks(path, &in)) {
        state.SkipWithError(("stream not found: " + path).c_str());
        return;
    }
    auto decoder = std::make_unique<aurivane::AacCoreDecoder>();
    std::vector<uint8_t> storage(8192);
    std::vector<float> time(4096);
    aurivane::BitBuffer bits;
    aurivane::SbrPayloadList sbr{};
    aurivane::BitBufferCreate(&bits, storage.data(), 8192);
    aurivane::AacCoreDecoderOpen(decoder.get(), &bits, &sbr, time.data());
    aurivane::AacCoreDecoderConfigure(decoder.get(), in.sampleRate, 0);
    float sink = 0;
    for (auto _ : state) {
        for (const auto& b : in.blocks) {
            aurivane::BitBufferCreate(&bits, storage.data(), 8192);
            for (uint8_t byte : b) aurivane::BitBufferWrite(&bits, byte, 8);
            sbr.count = 0;
            int size = 0, rate = 0, channels = 0, mode = 0;
            aurivane::AacCoreDecodeFrame(decoder.get(), &size, &rate, &channels, &mode, 1);
            sink += time[100];
        }
        benchmark::DoNotOptimize(sink);
    }
    const double frames = double(state.iterations()) * double(in.blocks.size());
    state.counters["frames_per_s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["realtime"] = benchmark::Counter(frames * 1024.0 / in.sampleRate, benchmark::Counter::kIsRate);
}

class CountingSink final : public aurivane::AudioSink {
public:
    int32_t Process(const void* data, uint32_t byteCount) override {
        if (byteCount > 0) last = static_cast<const uint8_t*>(data)[byteCount - 1];
        bytes += byteCount;
        return 1;
    }
    uint64_t bytes = 0;
    uint8_t last = 0;
};

void FilterDecode(benchmark::State& state, const std::string& path) {
    Blocks in;
    if (!LoadBlocks(path, &in)) {
        state.SkipWithError(("stream not found: " + path).c_str());
        return;
    }
    std::vector<uint8_t> aps;
    for (const auto& b : in.blocks) {
        if (b.size() > 255) {
            state.SkipWithError("a block does not fit a packet-stream record");
            return;
        }
        aps.push_back(static_cast<uint8_t>(b.size()));
        aps.insert(aps.end(), b.begin(), b.end());
    }
    auto* decoder = static_cast<aurivane::AacDecoderInterface*>(CreateObject(&aurivane::kAacDecoderId));
    CountingSink sink;
    if (decoder == nullptr || decoder->AddSink(&sink) != 1 || decoder->Open(0) != 1) {
        state.SkipWithError("AacDecoder not available");
        return;
    }
    for (auto _ : state) {
        if (decoder->Process(aps.data(), static_cast<uint32_t>(aps.size())) != 1) {
            state.SkipWithError("decoding failed");
            break;
        }
    }
    benchmark::DoNotOptimize(sink.last);
    DestroyObject(&aurivane::kAacDecoderId, decoder);
    const double frames = double(state.iterations()) * double(in.blocks.size());
    state.counters["frames_per_s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["realtime"] = benchmark::Counter(frames * 1024.0 / 22050.0, benchmark::Counter::kIsRate);
}

const std::string kData = std::string(AURIVANE_TEST_DATA_DIR) + "/aacdec/";
const std::string kShared = std::string(AURIVANE_SHARED_DIR) + "/samples/aac/";

}  // namespace

BENCHMARK_CAPTURE(CoreDecode, Mono22k, kData + "mono_clicks.aac");
BENCHMARK_CAPTURE(CoreDecode, Stereo22k, kData + "stereo_tns.aac");
BENCHMARK_CAPTURE(CoreDecode, Stereo44k, kShared + "lc_adts_44k1_stereo_88k.aac");
BENCHMARK_CAPTURE(FilterDecode, Mono22k, kData + "aps_mono_clicks.aac");
BENCHMARK_CAPTURE(FilterDecode, Stereo22k, kData + "aps_stereo_ms.aac");
