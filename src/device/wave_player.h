// CWavePlayer: plays PCM on the default wave-output device. Process copies
// and chunks its input; a worker thread moves chunks into a fixed pool of
// playback buffers as the device hands them back.
#ifndef AURIVANE_DEVICE_WAVE_PLAYER_H
#define AURIVANE_DEVICE_WAVE_PLAYER_H

#include <aurivane/aurivane.h>
#include <aurivane/wave_service.h>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace aurivane {

// One allocation: this record followed by `length` bytes of audio.
struct PendingChunk {
    uint32_t length;
    uint8_t* Data() { return reinterpret_cast<uint8_t*>(this + 1); }
};

class CWavePlayer final : public WavePlayerInterface {
public:
    CWavePlayer() = default;
    ~CWavePlayer() { Close(); }
    CWavePlayer(const CWavePlayer&) = delete;
    CWavePlayer& operator=(const CWavePlayer&) = delete;

    int32_t Process(const void* data, uint32_t byteCount) override;
    int32_t Open(const WAVEFORMATEX* format, uint32_t chunkSize, uint32_t bufferCount,
                 uint32_t backlogLimit) override;
    int32_t Close() override;
    uintptr_t GetDeviceHandle() override;
    uint32_t GetPendingBytes() override;

    // Lengths of the pending chunks, front first (inspection only).
    std::vector<uint32_t> PendingChunkLengths();
    std::size_t FreeBuffers();

private:
    static void OnDeviceMessage(WaveDevice* device, uint32_t message, uintptr_t instance, WaveHeader* header);
    void Worker();
    void DropPending();
    // Undoes a partly done Open; called with the state lock held, returns 0.
    int32_t FailOpen(std::unique_lock<std::mutex>& state);
    void ReleaseDevice();
    bool PopFree(WaveHeader** header);
    void PushFree(WaveHeader* header);

    std::atomic<WaveDevice*> device_{nullptr};
    int32_t open_ = 0;
    uint32_t backlogLimit_ = 0;
    uint32_t bufferCount_ = 0;
    std::atomic<uint32_t> pendingBytes_{0};  // read by GetPendingBytes without a lock
    uint32_t chunkSize_ = 0;
    std::deque<PendingChunk*> pending_;
    // Free list: a FIFO ring sized at Open, so the completion callback never allocates.
    std::vector<WaveHeader*> free_;
    std::size_t freeHead_ = 0;
    std::size_t freeCount_ = 0;
    std::mutex stateLock_;   // open_, pending_, pendingBytes_, running_; taken first
    std::mutex bufferLock_;  // free_; taken second, for single list operations
    std::unique_ptr<WaveEvent> wake_;
    std::thread worker_;
    int32_t running_ = 0;
    std::vector<WaveHeader*> pool_;  // every playback buffer, to free them at the end
};

}  // namespace aurivane

#endif
