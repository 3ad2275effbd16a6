// The winmm backend: the wave mapper with a function callback. Completions
// are relayed to a thread of our own, because a winmm callback may not call
// back into winmm (the recorder re-queues its buffer from the callback).
#include "platform/platform_services.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>

namespace aurivane {

namespace {

class WinmmDevice final : public WaveDevice {
public:
    WinmmDevice(bool input, WaveCallback callback, uintptr_t instance)
        : input_(input), callback_(callback), instance_(instance) {}

    bool Launch(const WAVEFORMATEX& format) {
        try {
            relay_ = std::thread([this] { Relay(); });
        } catch (const std::system_error&) {
            return false;
        }
        WAVEFORMATEX f = format;
        const DWORD_PTR proc = reinterpret_cast<DWORD_PTR>(&WinmmDevice::Proc);
        const DWORD_PTR self = reinterpret_cast<DWORD_PTR>(this);
        const MMRESULT r = input_ ? waveInOpen(&in_, WAVE_MAPPER, &f, proc, self, CALLBACK_FUNCTION)
                                  : waveOutOpen(&out_, WAVE_MAPPER, &f, proc, self, CALLBACK_FUNCTION);
        if (r != MMSYSERR_NOERROR) {
            EndRelay();
            return false;
        }
        return true;
    }

    bool Prepare(WaveHeader* h) override {
        if (h == nullptr) return false;
        return (input_ ? waveInPrepareHeader(in_, h, sizeof(WAVEHDR)) : waveOutPrepareHeader(out_, h, sizeof(WAVEHDR))) ==
               MMSYSERR_NOERROR;
    }
    bool Unprepare(WaveHeader* h) override {
        if (h == nullptr) return false;
        return (input_ ? waveInUnprepareHeader(in_, h, sizeof(WAVEHDR))
                       : waveOutUnprepareHeader(out_, h, sizeof(WAVEHDR))) == MMSYSERR_NOERROR;
    }
    bool Queue(WaveHeader* h) override {
        if (h == nullptr) return false;
        return (input_ ? waveInAddBuffer(in_, h, sizeof(WAVEHDR)) : waveOutWrite(out_, h, sizeof(WAVEHDR))) ==
               MMSYSERR_NOERROR;
    }
    bool Start() override { return input_ ? waveInStart(in_) == MMSYSERR_NOERROR : true; }
    bool Reset() override { return (input_ ? waveInReset(in_) : waveOutReset(out_)) == MMSYSERR_NOERROR; }
    bool Close() override {
        if (std::this_thread::get_id() == relay_.get_id()) return false;
        // Refused (WAVERR_STILLPLAYING) while buffers are queued.
        if ((input_ ? waveInClose(in_) : waveOutClose(out_)) != MMSYSERR_NOERROR) return false;
        EndRelay();
        delete this;
        return true;
    }
    uintptr_t NativeHandle() const override {
        return input_ ? reinterpret_cast<uintptr_t>(in_) : reinterpret_cast<uintptr_t>(out_);
    }

private:
    static void CALLBACK Proc(HANDLE, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
        if (message != WIM_DATA && message != WOM_DONE) return;
        WinmmDevice* self = reinterpret_cast<WinmmDevice*>(instance);
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->done_.push_back(reinterpret_cast<WAVEHDR*>(param1));
        }
        self->cv_.notify_all();
    }

    void Relay() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (!done_.empty()) {
                WAVEHDR* h = done_.front();
                done_.pop_front();
                lock.unlock();
                callback_(this, input_ ? kWimData : kWomDone, instance_, h);
                lock.lock();
                continue;
            }
            if (closing_) break;
            cv_.wait(lock);
        }
    }

    void EndRelay() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closing_ = true;
        }
        cv_.notify_all();
        relay_.join();  // after every relayed buffer has been handed back
    }

    const bool input_;
    const WaveCallback callback_;
    const uintptr_t instance_;
    HWAVEIN in_ = nullptr;
    HWAVEOUT out_ = nullptr;
    std::thread relay_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<WAVEHDR*> done_;
    bool closing_ = false;
};

class WinmmService final : public WaveService {
public:
    const char* Name() const override { return "winmm"; }

    WaveDevice* Open(WaveDirection direction, const WAVEFORMATEX& format, WaveCallback callback,
                     uintptr_t instance) override {
        if (callback == nullptr) return nullptr;
        WinmmDevice* device = new (std::nothrow) WinmmDevice(direction == WaveDirection::kInput, callback, instance);
        if (device == nullptr) return nullptr;
        if (!device->Launch(format)) {
            delete device;
            return nullptr;
        }
        return device;
    }

    std::vector<std::string> Describe() const override {
        std::vector<std::string> lines{"winmm wave mapper (default input and output)"};
        const UINT inputs = waveInGetNumDevs();
        for (UINT i = 0; i < inputs; ++i) {
            WAVEINCAPSA caps{};
            if (waveInGetDevCapsA(i, &caps, sizeof(caps)) == MMSYSERR_NOERROR) {
                lines.push_back(std::string("  input ") + std::to_string(i) + ": " + caps.szPname);
            }
        }
        const UINT outputs = waveOutGetNumDevs();
        for (UINT i = 0; i < outputs; ++i) {
            WAVEOUTCAPSA caps{};
            if (waveOutGetDevCapsA(i, &caps, sizeof(caps)) == MMSYSERR_NOERROR) {
                lines.push_back(std::string("  output ") + std::to_string(i) + ": " + caps.szPname);
            }
        }
        return lines;
    }
};

}  // namespace

WaveService& WinmmWaveService() {
    static WinmmService service;
    return service;
}

}  // namespace aurivane
