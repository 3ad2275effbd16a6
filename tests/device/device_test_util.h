// Shared pieces of the sound-card tests: a recording sink and formats.
#ifndef AURIVANE_TESTS_DEVICE_DEVICE_TEST_UTIL_H
#define AURIVANE_TESTS_DEVICE_DEVICE_TEST_UTIL_H

#include <aurivane/aurivane.h>
#include <aurivane/wave_service.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace aurivane::test {

inline WAVEFORMATEX Pcm(uint32_t rate, uint16_t channels, uint16_t bits = 16) {
    WAVEFORMATEX f{};
    f.wFormatTag = 1;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = static_cast<uint16_t>(channels * bits / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    f.cbSize = 0;
    return f;
}

// Keeps a copy of every block it is given; safe to read from another thread.
class BlockSink final : public AudioSink {
public:
    int32_t Process(const void* data, uint32_t byteCount) override {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        std::lock_guard<std::mutex> lock(mutex_);
        blocks_.emplace_back(p, p + byteCount);
        return 1;
    }
    std::vector<std::vector<uint8_t>> Blocks() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return blocks_;
    }
    std::size_t Count() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return blocks_.size();
    }
    // Waits (bounded) until at least n blocks arrived.
    bool WaitFor(std::size_t n, int timeoutMs = 10000) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Count() < n) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return true;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::vector<uint8_t>> blocks_;
};

inline int16_t SampleAt(const std::vector<uint8_t>& bytes, std::size_t i) {
    return static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
}

// Installs a virtual card for the lifetime of the object.
class ScopedCard {
public:
    explicit ScopedCard(const VirtualCardConfig& config) : card_(config) { SetWaveService(&card_); }
    ~ScopedCard() { SetWaveService(nullptr); }
    VirtualWaveService& operator*() { return card_; }
    VirtualWaveService* operator->() { return &card_; }

private:
    VirtualWaveService card_;
};

inline VirtualCardConfig ManualRamp() {
    VirtualCardConfig c;
    c.clock = VirtualCardConfig::Clock::kManual;
    c.input = VirtualCardConfig::Input::kRamp;
    c.output = VirtualCardConfig::Output::kMemory;
    return c;
}

}  // namespace aurivane::test

#endif
