// Throughput of the shared FFT and bit buffer.
#include "dsp/bit_buffer.h"
#include "dsp/fft.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

void BM_FftInterleaved(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const int sign = static_cast<int>(state.range(1));
    std::vector<float> data(2 * n);
    for (int i = 0; i < 2 * n; ++i) data[i] = std::sin(0.37f * i);
    for (auto _ : state) {
        aurivane::FftInterleaved(data.data(), n, sign);
        benchmark::DoNotOptimize(data.data());
        benchmark::ClobberMemory();
        // Keep magnitudes bounded across iterations.
        const float scale = 1.0f / std::sqrt(static_cast<float>(n));
        for (float& v : data) v *= scale;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(sign < 0 ? "forward" : "inverse");
}
BENCHMARK(BM_FftInterleaved)->ArgsProduct({{64, 512, 1024, 2048}, {-1, 1}});

void BM_BitBufferWrite(benchmark::State& state) {
    std::vector<uint8_t> storage(1536);
    aurivane::BitBuffer buffer;
    aurivane::BitBufferCreate(&buffer, storage.data(), static_cast<uint32_t>(storage.size()));
    const int width = static_cast<int>(state.range(0));
    uint32_t v = 0x9E3779B9u;
    for (auto _ : state) {
        for (int i = 0; i < 1024; ++i) {
            aurivane::BitBufferWrite(&buffer, v, width);
            v = v * 1664525u + 1013904223u;
        }
        buffer.bitCount = 0;
    }
    state.SetBytesProcessed(state.iterations() * 1024 * width / 8);
}
BENCHMARK(BM_BitBufferWrite)->Arg(2)->Arg(8)->Arg(24);

void BM_BitBufferRead(benchmark::State& state) {
    std::vector<uint8_t> storage(1536);
    for (std::size_t i = 0; i < storage.size(); ++i) storage[i] = static_cast<uint8_t>(i * 37 + 11);
    aurivane::BitBuffer buffer;
    aurivane::BitBufferCreate(&buffer, storage.data(), static_cast<uint32_t>(storage.size()));
    const int width = static_cast<int>(state.range(0));
    uint32_t sum = 0;
    for (auto _ : state) {
        for (int i = 0; i < 1024; ++i) sum += aurivane::BitBufferRead(&buffer, width);
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(state.iterations() * 1024 * width / 8);
}
BENCHMARK(BM_BitBufferRead)->Arg(2)->Arg(8)->Arg(24);

}  // namespace
