// Aurivane wave service: the sound-card layer under WaveRecorder and
// CWavePlayer, for C++ hosts and tests that link the engine statically.
//
// The engine objects open their devices through the process's current wave
// service, read by WaveRecorder::Start and CWavePlayer::Open. By default that
// is the platform's own (winmm on Windows, ALSA's "default" PCM on Linux). A
// host may install another one, for example the VirtualWaveService below,
// with SetWaveService before it starts recorders or opens players; the
// service must outlive every device opened through it.
//
// The model follows the Windows multimedia wave API: a device is opened for
// one PCM format with a function callback and an instance value; buffers are
// WAVEHDR-style headers that are prepared, queued, and handed back exactly
// once through the callback (kWimData for input, with dwBytesRecorded set;
// kWomDone for output) on a thread of the service. Reset hands back every
// queued buffer at once; Close refuses while buffers are still queued.
#ifndef AURIVANE_WAVE_SERVICE_H
#define AURIVANE_WAVE_SERVICE_H

#include <aurivane/aurivane.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace aurivane {

#if defined(_WIN32)
using WaveHeader = WAVEHDR;
#else
// Same fields, in the same order, as the Windows WAVEHDR.
struct WaveHeader {
    char* lpData;
    uint32_t dwBufferLength;
    uint32_t dwBytesRecorded;
    uintptr_t dwUser;
    uint32_t dwFlags;
    uint32_t dwLoops;
    WaveHeader* lpNext;
    uintptr_t reserved;
};
#endif

// Header flags and callback messages, with their Windows values.
inline constexpr uint32_t kWaveHeaderDone = 0x01;
inline constexpr uint32_t kWaveHeaderPrepared = 0x02;
inline constexpr uint32_t kWaveHeaderInQueue = 0x10;
inline constexpr uint32_t kWomOpen = 0x3BB;
inline constexpr uint32_t kWomClose = 0x3BC;
inline constexpr uint32_t kWomDone = 0x3BD;
inline constexpr uint32_t kWimOpen = 0x3BE;
inline constexpr uint32_t kWimClose = 0x3BF;
inline constexpr uint32_t kWimData = 0x3C0;

enum class WaveDirection { kInput, kOutput };

class WaveDevice;
using WaveCallback = void (*)(WaveDevice* device, uint32_t message, uintptr_t instance, WaveHeader* header);

// One open input or output device. Every call returns false on failure.
class WaveDevice {
public:
    virtual ~WaveDevice() = default;
    virtual bool Prepare(WaveHeader* header) = 0;
    // Fails while the header is queued.
    virtual bool Unprepare(WaveHeader* header) = 0;
    // waveInAddBuffer for input, waveOutWrite for output. The header must be
    // prepared and not queued.
    virtual bool Queue(WaveHeader* header) = 0;
    // Begins capture (input only; output plays as soon as buffers are queued).
    virtual bool Start() = 0;
    // Stops the device and hands back every queued buffer through the callback.
    virtual bool Reset() = 0;
    // Fails, leaving the device open, while buffers are queued. On success all
    // callbacks have returned and the device object is destroyed.
    virtual bool Close() = 0;
    // The platform handle (HWAVEIN/HWAVEOUT on Windows); never 0 while open.
    virtual uintptr_t NativeHandle() const = 0;
};

// An auto-reset event: several signals before a wait wake it once.
class WaveEvent {
public:
    virtual ~WaveEvent() = default;
    virtual void Signal() = 0;
    virtual void Wait() = 0;
};

class WaveService {
public:
    virtual ~WaveService() = default;
    virtual const char* Name() const = 0;
    // Opens the default device of that direction for a PCM format; null on failure.
    virtual WaveDevice* Open(WaveDirection direction, const WAVEFORMATEX& format, WaveCallback callback,
                             uintptr_t instance) = 0;
    // Human-readable lines describing the devices this service would use.
    virtual std::vector<std::string> Describe() const = 0;

    // The kernel objects a player needs beside its device: a named auto-reset
    // event and a worker thread. The defaults make real ones; a service may
    // refuse them. MakeWorker returns false and leaves worker untouched on
    // failure.
    virtual std::unique_ptr<WaveEvent> MakeEvent(const char* name);
    virtual bool MakeWorker(std::thread* worker, std::function<void()> body);
};

// The platform's service (winmm or ALSA); lives for the whole process.
WaveService& DefaultWaveService();
// The service new devices are opened on. A null argument restores the default.
// Devices already open stay on the service that opened them.
void SetWaveService(WaveService* service);
WaveService& CurrentWaveService();

// Points of the virtual card where a call can be made to fail.
enum class WaveFault { kOpen, kPrepare, kQueue, kStart, kWrite, kEvent, kThread, kCount };

// A software sound card with one service thread per open device.
struct VirtualCardConfig {
    enum class Clock {
        kRealTime,  // buffers complete after their duration divided by speed
        kManual,    // buffers complete only through Step
    };
    enum class Input {
        kSilence,
        kTone,   // a sine of toneHz at half full scale on every channel
        kRamp,   // sample n of each channel holds n modulo 32768 (16-bit)
        kPcm,    // inputPcm (interleaved, inputChannels wide), then silence (or again, if loop)
    };
    enum class Output {
        kDiscard,
        kMemory,    // kept, see PlayedBytes
        kCallback,  // handed to onPlayed as each buffer completes, not kept
    };
    // Called on the device's service thread with the bytes of each played
    // buffer, in order, and the format the device was opened with.
    using PlayedCallback = std::function<void(const WAVEFORMATEX& format, const uint8_t* data, uint32_t bytes)>;
    Clock clock = Clock::kRealTime;
    double speed = 1.0;  // for kRealTime; 0 or less completes buffers at once
    Input input = Input::kSilence;
    double toneHz = 440.0;
    // The card reads and writes no file: the host hands it the samples.
    std::vector<int16_t> inputPcm;
    uint16_t inputChannels = 1;
    bool loop = false;
    Output output = Output::kMemory;
    PlayedCallback onPlayed;
};

class VirtualWaveService final : public WaveService {
public:
    explicit VirtualWaveService(const VirtualCardConfig& config = {});
    ~VirtualWaveService() override;
    VirtualWaveService(const VirtualWaveService&) = delete;
    VirtualWaveService& operator=(const VirtualWaveService&) = delete;

    // False (with a message) when the configured input cannot be used.
    bool Ready(std::string* error) const;

    const char* Name() const override;
    WaveDevice* Open(WaveDirection direction, const WAVEFORMATEX& format, WaveCallback callback,
                     uintptr_t instance) override;
    std::vector<std::string> Describe() const override;
    std::unique_ptr<WaveEvent> MakeEvent(const char* name) override;
    bool MakeWorker(std::thread* worker, std::function<void()> body) override;

    // Makes the nth call (1-based, counted from now) at that point fail;
    // 0 disarms it. Calls are counted over both directions.
    void FailOn(WaveFault point, uint32_t nth);
    uint32_t Calls(WaveFault point) const;

    // Manual clock: lets every open device complete up to `buffers` queued
    // buffers (input only once started) and returns when their callbacks,
    // and any they caused, have returned.
    void Step(uint32_t buffers = 1);
    // Waits until open devices of that direction hold at least `count` queued
    // buffers in total; false after the time-out.
    bool WaitForQueued(WaveDirection direction, std::size_t count, uint32_t timeoutMs);

    std::size_t OpenDevices() const;
    std::size_t QueuedBuffers(WaveDirection direction) const;
    uint64_t CompletedBuffers(WaveDirection direction) const;
    // Everything output devices have played (kMemory), in order.
    std::vector<uint8_t> PlayedBytes() const;
    // Format of the last output device opened.
    WAVEFORMATEX LastOutputFormat() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace aurivane

#endif
