#include "device/wave_player.h"

#include "device/device_format.h"
#include "device/wave_buffer.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace aurivane {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(1);
constexpr int kPollsPerReset = 200;       // re-issue the reset every 0.2 s
constexpr int kPollsBeforeGiveUp = 5000;  // a device that keeps buffers for 5 s is broken

void ReportRefusedWrite() {
#if defined(_WIN32)
    MessageBoxA(nullptr, "CWavePlayer waveOutWrite Failed!", "BUG", MB_OK);
#else
    std::fputs("BUG: CWavePlayer waveOutWrite Failed!\n", stderr);
#endif
}

// "waveOutEvent id=<process id> tick=<performance counter>".
void EventName(char* name, std::size_t size) {
#if defined(_WIN32)
    LARGE_INTEGER tick;
    QueryPerformanceCounter(&tick);
    std::snprintf(name, size, "waveOutEvent id=%lu tick=%" PRIu64, static_cast<unsigned long>(GetCurrentProcessId()),
                  static_cast<uint64_t>(tick.QuadPart));
#else
    const auto tick = std::chrono::steady_clock::now().time_since_epoch().count();
    std::snprintf(name, size, "waveOutEvent id=%u tick=%" PRIu64, static_cast<unsigned>(getpid()),
                  static_cast<uint64_t>(tick));
#endif
}

}  // namespace

bool CWavePlayer::PopFree(WaveHeader** header) {
    std::lock_guard<std::mutex> guard(bufferLock_);
    if (freeCount_ == 0) return false;
    *header = free_[freeHead_];
    freeHead_ = (freeHead_ + 1) % free_.size();
    --freeCount_;
    return true;
}

void CWavePlayer::PushFree(WaveHeader* header) {
    std::lock_guard<std::mutex> guard(bufferLock_);
    if (freeCount_ == free_.size()) return;  // not one of ours
    free_[(freeHead_ + freeCount_) % free_.size()] = header;
    ++freeCount_;
}

std::size_t CWavePlayer::FreeBuffers() {
    std::lock_guard<std::mutex> guard(bufferLock_);
    return freeCount_;
}

std::vector<uint32_t> CWavePlayer::PendingChunkLengths() {
    std::lock_guard<std::mutex> guard(stateLock_);
    std::vector<uint32_t> lengths;
    for (const PendingChunk* c : pending_) lengths.push_back(c->length);
    return lengths;
}

uintptr_t CWavePlayer::GetDeviceHandle() {
    WaveDevice* device = device_.load();
    return device != nullptr ? device->NativeHandle() : 0;
}

uint32_t CWavePlayer::GetPendingBytes() { return pendingBytes_.load(std::memory_order_relaxed); }

int32_t CWavePlayer::Open(const WAVEFORMATEX* format, uint32_t chunkSize, uint32_t bufferCount,
                          uint32_t backlogLimit) {
    std::unique_lock<std::mutex> state(stateLock_);
    if (open_ == 1) return 1;
    // Without a chunk size nothing could be cut, without buffers nothing played.
    if (format == nullptr || chunkSize == 0 || bufferCount == 0) return 0;
    const WAVEFORMATEX f = DeviceFormat(*format);
    backlogLimit_ = backlogLimit;
    chunkSize_ = chunkSize;
    bufferCount_ = bufferCount;

    WaveService& service = CurrentWaveService();
    WaveDevice* device =
        service.Open(WaveDirection::kOutput, f, &CWavePlayer::OnDeviceMessage, reinterpret_cast<uintptr_t>(this));
    if (device == nullptr) return 0;
    device_.store(device);
    open_ = 1;

    try {
        free_.assign(bufferCount, nullptr);
        pool_.reserve(bufferCount);
    } catch (const std::exception&) {
        return FailOpen(state);
    }
    freeHead_ = 0;
    freeCount_ = 0;

    char name[80];
    EventName(name, sizeof(name));
    wake_ = service.MakeEvent(name);
    if (!wake_) return FailOpen(state);
    if (!service.MakeWorker(&worker_, [this] { Worker(); })) return FailOpen(state);

    for (uint32_t i = 0; i < bufferCount; ++i) {
        WaveHeader* h = NewWaveBuffer(chunkSize);
        if (h == nullptr) return FailOpen(state);
        h->dwUser = i;
        if (!device->Prepare(h)) {
            FreeWaveBuffer(h);
            return FailOpen(state);
        }
        pool_.push_back(h);  // reserved above
        PushFree(h);
    }
    return 1;
}

int32_t CWavePlayer::FailOpen(std::unique_lock<std::mutex>& state) {
    open_ = 0;
    if (worker_.joinable()) {
        // The worker waits for this lock; once it gets it, it sees open as 0.
        wake_->Signal();
        state.unlock();
        worker_.join();
        state.lock();
    }
    ReleaseDevice();
    wake_.reset();
    return 0;
}

void CWavePlayer::ReleaseDevice() {
    WaveDevice* device = device_.load();
    if (device != nullptr) {
        // Every buffer handed to the device must come back before it is freed.
        device->Reset();
        int polls = 0;
        while (FreeBuffers() < pool_.size() && polls < kPollsBeforeGiveUp) {
            std::this_thread::sleep_for(kPollInterval);
            if (++polls % kPollsPerReset == 0) device->Reset();
        }
        if (FreeBuffers() < pool_.size()) {
            // The device still holds buffers: leak them rather than free memory it may write.
            pool_.clear();
        }
        for (WaveHeader* h : pool_) device->Unprepare(h);
        if (!device->Close()) {
            device->Reset();
            device->Close();
        }
        device_.store(nullptr);
    }
    for (WaveHeader* h : pool_) FreeWaveBuffer(h);
    pool_.clear();
    std::lock_guard<std::mutex> guard(bufferLock_);
    freeHead_ = 0;
    freeCount_ = 0;
}

void CWavePlayer::DropPending() {
    for (PendingChunk* c : pending_) {
        pendingBytes_.fetch_sub(c->length, std::memory_order_relaxed);
        ::operator delete(c);
    }
    pending_.clear();
}

int32_t CWavePlayer::Process(const void* data, uint32_t byteCount) {
    // The buffer lock is not needed here: Process never touches the free list,
    // and holding it would stall the device's completions during the copy.
    std::lock_guard<std::mutex> state(stateLock_);
    if (open_ == 0) return 0;
    if (data == nullptr && byteCount != 0) return 0;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint32_t left = byteCount;
    while (left > 0) {
        const uint32_t n = (std::min)(left, chunkSize_);
        void* block = ::operator new(sizeof(PendingChunk) + n, std::nothrow);
        if (block == nullptr) break;
        PendingChunk* c = static_cast<PendingChunk*>(block);
        c->length = n;
        std::memcpy(c->Data(), p, n);
        try {
            pending_.push_back(c);
        } catch (const std::exception&) {
            ::operator delete(block);
            break;
        }
        pendingBytes_.fetch_add(n, std::memory_order_relaxed);
        p += n;
        left -= n;
    }
    wake_->Signal();
    return 1;
}

void CWavePlayer::Worker() {
    {
        std::lock_guard<std::mutex> state(stateLock_);
        running_ = 1;
    }
    for (;;) {
        wake_->Wait();
        std::unique_lock<std::mutex> state(stateLock_);
        if (open_ == 0) {
            running_ = 0;
            return;
        }
        // Past the limit the whole backlog goes at once, bounding the delay.
        if (pendingBytes_.load(std::memory_order_relaxed) > backlogLimit_) DropPending();
        WaveDevice* device = device_.load();
        bool refused = false;
        WaveHeader* h = nullptr;
        while (!pending_.empty() && PopFree(&h)) {
            PendingChunk* c = pending_.front();
            pending_.pop_front();
            pendingBytes_.fetch_sub(c->length, std::memory_order_relaxed);
            std::memcpy(h->lpData, c->Data(), c->length);
            h->dwFlags = kWaveHeaderPrepared;
            h->dwBufferLength = c->length;
            ::operator delete(c);
            if (!device->Queue(h)) {
                // The device will never hand it back; Close waits for it.
                refused = true;
                PushFree(h);
            }
        }
        state.unlock();
        // Shown outside the lock so that a waiting box does not stall Process.
        if (refused) ReportRefusedWrite();
    }
}

void CWavePlayer::OnDeviceMessage(WaveDevice*, uint32_t message, uintptr_t instance, WaveHeader* header) {
    if (message != kWomDone || header == nullptr) return;
    CWavePlayer* self = reinterpret_cast<CWavePlayer*>(instance);
    self->PushFree(header);
    self->wake_->Signal();
}

int32_t CWavePlayer::Close() {
    {
        std::lock_guard<std::mutex> state(stateLock_);
        if (open_ == 0) return 1;
        open_ = 0;
    }
    wake_->Signal();
    if (worker_.joinable()) worker_.join();
    ReleaseDevice();
    {
        std::lock_guard<std::mutex> state(stateLock_);
        DropPending();
        pendingBytes_.store(0);
    }
    wake_.reset();
    return 1;
}

}  // namespace aurivane
