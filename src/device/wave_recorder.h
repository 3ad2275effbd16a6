// WaveRecorder: captures PCM from the default wave-input device and delivers
// it to its sinks in blocks of the host's delivery size.
#ifndef AURIVANE_DEVICE_WAVE_RECORDER_H
#define AURIVANE_DEVICE_WAVE_RECORDER_H

#include <aurivane/aurivane.h>
#include <aurivane/wave_service.h>

#include "engine/sink_list.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace aurivane {

class WaveRecorder final : public WaveRecorderInterface {
public:
    WaveRecorder() = default;
    ~WaveRecorder() { Stop(); }
    WaveRecorder(const WaveRecorder&) = delete;
    WaveRecorder& operator=(const WaveRecorder&) = delete;

    int32_t AddSink(AudioSink* sink) override;
    int32_t RemoveSink(AudioSink* sink) override;
    int32_t Start(const WAVEFORMATEX* format, uint32_t bufferBytes, uint32_t bufferCount,
                  uint32_t deliverySize) override;
    int32_t Stop() override;
    uintptr_t GetDeviceHandle() override;

    uint32_t DeliverySize() const { return deliverySize_; }
    std::size_t CaptureBufferCount() const { return buffers_.size(); }
    uint32_t CaptureBufferBytes() const { return buffers_.empty() ? 0 : buffers_.front()->dwBufferLength; }

private:
    static void OnDeviceMessage(WaveDevice* device, uint32_t message, uintptr_t instance, WaveHeader* header);
    void OnBufferFilled(WaveDevice* device, WaveHeader* header);
    bool QueueNewBuffer(WaveDevice* device, uint32_t bytes);
    int32_t FailStart();

    uint8_t* accumulation_ = nullptr;
    uint32_t deliverySize_ = 0;
    uint32_t accumulated_ = 0;
    SinkList sinks_;
    std::vector<WaveHeader*> buffers_;  // every capture buffer given to the device
    std::atomic<int32_t> started_{0};
    std::atomic<int32_t> outstanding_{0};  // capture buffers queued at the device
    std::atomic<WaveDevice*> device_{nullptr};
    std::mutex lock_;  // held while a filled buffer is handled
};

}  // namespace aurivane

#endif
