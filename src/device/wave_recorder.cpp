#include "device/wave_recorder.h"

#include "device/device_format.h"
#include "device/wave_buffer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>

namespace aurivane {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(1);
constexpr int kPollsPerReset = 200;       // re-issue the reset every 0.2 s
constexpr int kPollsBeforeGiveUp = 5000;  // a device that keeps buffers for 5 s is broken

}  // namespace

int32_t WaveRecorder::AddSink(AudioSink* sink) {
    sinks_.Add(sink);
    return 1;
}

int32_t WaveRecorder::RemoveSink(AudioSink* sink) { return sinks_.Remove(sink) ? 1 : 0; }

uintptr_t WaveRecorder::GetDeviceHandle() {
    WaveDevice* device = device_.load();
    return device != nullptr ? device->NativeHandle() : 0;
}

int32_t WaveRecorder::Start(const WAVEFORMATEX* format, uint32_t bufferBytes, uint32_t bufferCount,
                            uint32_t deliverySize) {
    if (started_.load() == 1) return 1;
    if (format == nullptr) return 0;
    const WAVEFORMATEX f = DeviceFormat(*format);
    if (bufferBytes == 0) bufferBytes = f.nAvgBytesPerSec;  // one second of audio
    if (bufferCount == 0) bufferCount = 4;
    // A zero delivery size would deliver empty blocks and lose every sample:
    // deliver each buffer as it comes instead.
    if (deliverySize == 0) deliverySize = bufferBytes;

    delete[] accumulation_;
    accumulation_ = nullptr;
    deliverySize_ = 0;
    accumulated_ = 0;
    if (deliverySize == 0) return 0;
    accumulation_ = new (std::nothrow) uint8_t[deliverySize];
    if (accumulation_ == nullptr) return 0;
    deliverySize_ = deliverySize;

    WaveDevice* device = CurrentWaveService().Open(WaveDirection::kInput, f, &WaveRecorder::OnDeviceMessage,
                                                   reinterpret_cast<uintptr_t>(this));
    if (device == nullptr) return 0;
    device_.store(device);

    try {
        buffers_.reserve(bufferCount);
    } catch (const std::exception&) {
        return FailStart();
    }
    for (uint32_t i = 0; i < bufferCount; ++i) {
        if (!QueueNewBuffer(device, bufferBytes)) return FailStart();
    }
    started_.store(1);
    if (!device->Start()) return FailStart();
    return 1;
}

bool WaveRecorder::QueueNewBuffer(WaveDevice* device, uint32_t bytes) {
    WaveHeader* h = NewWaveBuffer(bytes);
    if (h == nullptr) return false;
    try {
        buffers_.push_back(h);
    } catch (const std::exception&) {
        FreeWaveBuffer(h);
        return false;
    }
    if (!device->Prepare(h)) {
        buffers_.pop_back();
        FreeWaveBuffer(h);
        return false;
    }
    if (!device->Queue(h)) {
        device->Unprepare(h);
        buffers_.pop_back();
        FreeWaveBuffer(h);
        return false;
    }
    outstanding_.fetch_add(1);
    return true;
}

int32_t WaveRecorder::FailStart() {
    Stop();
    return 0;
}

void WaveRecorder::OnDeviceMessage(WaveDevice* device, uint32_t message, uintptr_t instance, WaveHeader* header) {
    if (message != kWimData || header == nullptr) return;
    reinterpret_cast<WaveRecorder*>(instance)->OnBufferFilled(device, header);
}

void WaveRecorder::OnBufferFilled(WaveDevice* device, WaveHeader* h) {
    std::lock_guard<std::mutex> guard(lock_);
    if (started_.load() == 0) {
        outstanding_.fetch_sub(1);  // handed back for Stop: not queued again
        return;
    }
    // Whatever the device reports, never read past the buffer nor write past
    // the block; bytes that overflow one block start the next one, so no
    // captured sample is lost and every block is whole.
    uint32_t left = (std::min)(h->dwBytesRecorded, h->dwBufferLength);
    const uint8_t* from = reinterpret_cast<const uint8_t*>(h->lpData);
    while (left > 0 && deliverySize_ > 0) {
        const uint32_t n = (std::min)(left, deliverySize_ - accumulated_);
        std::memcpy(accumulation_ + accumulated_, from, n);
        accumulated_ += n;
        from += n;
        left -= n;
        if (accumulated_ == deliverySize_) {
            sinks_.Deliver(accumulation_, deliverySize_);
            accumulated_ = 0;
        }
    }
    const bool requeued =
        ((h->dwFlags & kWaveHeaderPrepared) || device->Prepare(h)) && device->Queue(h);
    if (!requeued) outstanding_.fetch_sub(1);  // the device no longer holds it
}

int32_t WaveRecorder::Stop() {
    int32_t expected = 1;
    started_.compare_exchange_strong(expected, 0);

    WaveDevice* device = device_.load();
    if (device != nullptr) {
        // A callback that saw started as 1 re-queues its buffer under the lock;
        // once we had the lock, every later callback sees 0, so the reset below
        // hands back everything for good.
        { std::lock_guard<std::mutex> guard(lock_); }
        device->Reset();
    }
    int polls = 0;
    while (outstanding_.load() > 0 && polls < kPollsBeforeGiveUp) {
        std::this_thread::sleep_for(kPollInterval);
        if (++polls % kPollsPerReset == 0 && device != nullptr) device->Reset();
    }
    { std::lock_guard<std::mutex> guard(lock_); }  // no callback is still inside

    const bool allBack = outstanding_.load() == 0;
    if (allBack) {
        for (WaveHeader* h : buffers_) {
            if (device != nullptr) device->Unprepare(h);
            FreeWaveBuffer(h);
        }
        if (device != nullptr && !device->Close()) {
            // Should not happen once every buffer is back; retry once after a reset.
            device->Reset();
            device->Close();
        }
    }
    // Otherwise the device still holds buffers: leaking them and the device is
    // the only safe choice, freeing them would let the device write into freed memory.
    buffers_.clear();
    sinks_.Clear();
    device_.store(nullptr);
    outstanding_.store(0);
    delete[] accumulation_;
    accumulation_ = nullptr;
    deliverySize_ = 0;
    accumulated_ = 0;
    return 1;
}

}  // namespace aurivane
