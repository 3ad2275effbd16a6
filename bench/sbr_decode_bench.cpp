// HE-AAC decoding speed through the AacDecoder filter: a mono + parametric
// stereo stream (complex QMF, hybrid filterbank, decorrelator) and a stereo
// SBR stream (complex QMF, as mono), both generated SBR/PS payloads in real
// AAC-LC cores. The "realtime" counter is seconds of audio decoded per
// second of wall-clock time; bench/speed.sh times the program against
// ffmpeg and faad as whole processes.
#include "support/sbr_payload_gen.h"

#include <aurivane/aurivane.h>
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using aurivane::test::AdtsStream;

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

bool MakeStream(bool stereo, bool ps, AdtsStream* out) {
    std::vector<uint8_t> file;
    const std::string core = std::string(AURIVANE_TEST_DATA_DIR) + "/sbr/" +
                             (stereo ? "core_stereo_22k.aac" : "core_mono_22k.aac");
    std::string error;
    AdtsStream lc;
    if (!aurivane::test::ReadFileBytes(core, &file) || !aurivane::test::ReadAdtsBlocks(file, &lc, &error)) {
        return false;
    }
    aurivane::test::DropLargeBlocks(&lc, 200);
    aurivane::test::SbrGenOptions o;
    o.seed = stereo ? 21 : 13;  // the interop test's stereo_sbr and mono_ps streams
    o.pair = stereo;
    o.ps = ps;
    aurivane::test::SbrPayloadGenerator gen(o);
    *out = aurivane::test::AddSbrPayloads(lc, gen);
    return true;
}

void DecodeStream(benchmark::State& state, bool stereo, bool ps) {
    AdtsStream stream;
    if (!MakeStream(stereo, ps, &stream)) {
        state.SkipWithError("test cores under tests/data/sbr not found");
        return;
    }
    const std::vector<uint8_t> aps = aurivane::test::WrapPacketStream(stream);
    auto* decoder = static_cast<aurivane::AacDecoderInterface*>(CreateObject(&aurivane::kAacDecoderId));
    CountingSink sink;
    decoder->AddSink(&sink);
    if (decoder->Open(0) != 1) {
        state.SkipWithError("AacDecoder open failed");
        return;
    }
    for (auto _ : state) {
        if (decoder->Process(aps.data(), static_cast<uint32_t>(aps.size())) != 1) {
            state.SkipWithError("decoding failed");
            break;
        }
        benchmark::DoNotOptimize(sink.last);
    }
    DestroyObject(&aurivane::kAacDecoderId, decoder);
    const double seconds = 1024.0 * static_cast<double>(stream.blocks.size()) / 22050.0;
    state.counters["realtime"] =
        benchmark::Counter(seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["frames"] = static_cast<double>(stream.blocks.size());
    state.SetBytesProcessed(static_cast<int64_t>(sink.bytes));
}

void BM_DecodeMonoPs(benchmark::State& state) { DecodeStream(state, false, true); }
void BM_DecodeStereoSbr(benchmark::State& state) { DecodeStream(state, true, false); }
BENCHMARK(BM_DecodeMonoPs)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeStereoSbr)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
