// A software sound card: one service thread per open device, paced by a real
// or manual clock. Input is generated or taken from the host's samples; output
// is kept in memory or handed to the host's callback. The card opens no file.
#include <aurivane/wave_service.h>

#include "platform/header_flags.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>

namespace aurivane {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kFaultPoints = static_cast<std::size_t>(WaveFault::kCount);

bool ValidFormat(const WAVEFORMATEX& f) {
    return f.nChannels >= 1 && f.nChannels <= 8 && (f.wBitsPerSample == 8 || f.wBitsPerSample == 16) &&
           f.nSamplesPerSec >= 1 && f.nSamplesPerSec <= 384000 &&
           f.nBlockAlign == f.nChannels * (f.wBitsPerSample / 8) &&
           f.nAvgBytesPerSec == f.nSamplesPerSec * f.nBlockAlign;
}

class VirtualDevice;

}  // namespace

struct VirtualWaveService::Impl {
    explicit Impl(const VirtualCardConfig& c) : config(c) {
        for (auto& n : calls) n.store(0);
        for (auto& n : failAt) n.store(0);
        if (config.input == VirtualCardConfig::Input::kPcm) {
            if (config.inputChannels == 0) {
                inputOk = false;
                inputError = "input samples with no channels";
            } else if (config.inputPcm.size() % config.inputChannels != 0) {
                inputOk = false;
                inputError = "input samples are not a whole number of frames";
            }
        }
    }

    // Counts a call at that point; true when this one is to fail.
    bool Fault(WaveFault point) {
        const std::size_t i = static_cast<std::size_t>(point);
        const uint32_t n = calls[i].fetch_add(1) + 1;
        const uint32_t at = failAt[i].load();
        return at != 0 && n == at;
    }

    void AddPlayed(const WAVEFORMATEX& format, const char* data, uint32_t size) {
        if (config.output == VirtualCardConfig::Output::kDiscard) return;
        if (config.output == VirtualCardConfig::Output::kCallback) {
            if (config.onPlayed) config.onPlayed(format, reinterpret_cast<const uint8_t*>(data), size);
            return;
        }
        std::lock_guard<std::mutex> lock(playedMutex);
        played.insert(played.end(), data, data + size);
    }

    void Remove(VirtualDevice* device);

    VirtualCardConfig config;
    bool inputOk = true;
    std::string inputError;
    std::atomic<uint32_t> calls[kFaultPoints];
    std::atomic<uint32_t> failAt[kFaultPoints];
    std::atomic<uint64_t> completed[2] = {0, 0};

    mutable std::mutex devicesMutex;  // taken before any device's own mutex
    std::vector<VirtualDevice*> devices;

    mutable std::mutex playedMutex;
    std::vector<uint8_t> played;
    WAVEFORMATEX lastOutput{};
};

namespace {

class VirtualDevice final : public WaveDevice {
public:
    VirtualDevice(VirtualWaveService::Impl& card, WaveDirection direction, const WAVEFORMATEX& format,
                  WaveCallback callback, uintptr_t instance)
        : card_(card),
          input_(direction == WaveDirection::kInput),
          format_(format),
          callback_(callback),
          instance_(instance) {}

    bool Launch() {
        try {
            thread_ = std::thread([this] { Run(); });
            return true;
        } catch (const std::system_error&) {
            return false;
        }
    }

    bool Prepare(WaveHeader* h) override {
        if (card_.Fault(WaveFault::kPrepare) || h == nullptr || h->lpData == nullptr) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        MarkPrepared(h);
        return true;
    }

    bool Unprepare(WaveHeader* h) override {
        if (h == nullptr) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        return MarkUnprepared(h);
    }

    bool Queue(WaveHeader* h) override {
        if (card_.Fault(input_ ? WaveFault::kQueue : WaveFault::kWrite) || h == nullptr) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        if (!MarkQueued(h, input_)) return false;
        // After an underrun the clock restarts from now.
        if (queued_.empty()) clockBase_ = (std::max)(clockBase_, Clock::now());
        queued_.push_back(h);
        cv_.notify_all();
        return true;
    }

    bool Start() override {
        if (card_.Fault(WaveFault::kStart)) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        if (input_ && !started_) {
            started_ = true;
            clockBase_ = Clock::now();
            cv_.notify_all();
        }
        return true;
    }

    bool Reset() override {
        std::lock_guard<std::mutex> lock(mutex_);
        while (!queued_.empty()) {
            WaveHeader* h = queued_.front();
            queued_.pop_front();
            h->dwFlags = (h->dwFlags & ~kWaveHeaderInQueue) | kWaveHeaderDone;
            done_.push_back(h);
        }
        started_ = false;
        cv_.notify_all();
        return true;
    }

    bool Close() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!queued_.empty() || std::this_thread::get_id() == thread_.get_id()) return false;
            closing_ = true;
            cv_.notify_all();
        }
        thread_.join();  // the thread hands back whatever is done before it ends
        card_.Remove(this);
        delete this;
        return true;
    }

    uintptr_t NativeHandle() const override { return reinterpret_cast<uintptr_t>(this); }

    // Used by the card (under its device-list mutex).
    void Grant(uint32_t buffers) {
        std::lock_guard<std::mutex> lock(mutex_);
        credits_ += buffers;
        cv_.notify_all();
    }
    void WaitIdle() {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [this] { return done_.empty() && !inCallback_ && (credits_ == 0 || !CanComplete()); });
        credits_ = 0;
    }
    std::size_t Queued() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return queued_.size();
    }
    bool IsInput() const { return input_; }
    void ForceClose() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queued_.clear();
            done_.clear();
            closing_ = true;
            cv_.notify_all();
        }
        if (thread_.joinable()) thread_.join();
    }

private:
    bool CanComplete() const { return !queued_.empty() && (!input_ || started_); }

    Clock::duration Duration(uint32_t bytes) const {
        const double seconds = static_cast<double>(bytes) / format_.nAvgBytesPerSec / card_.config.speed;
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    }

    void Run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (!done_.empty()) {
                WaveHeader* h = done_.front();
                done_.pop_front();
                inCallback_ = true;
                lock.unlock();
                callback_(this, input_ ? kWimData : kWomDone, instance_, h);
                lock.lock();
                inCallback_ = false;
                cv_.notify_all();
                continue;
            }
            if (closing_) break;
            if (!CanComplete()) {
                cv_.wait(lock);
                continue;
            }
            if (card_.config.clock == VirtualCardConfig::Clock::kManual) {
                if (credits_ == 0) {
                    cv_.wait(lock);
                    continue;
                }
                --credits_;
            } else if (card_.config.speed > 0) {
                const Clock::time_point due = clockBase_ + Duration(queued_.front()->dwBufferLength);
                if (Clock::now() < due) {
                    cv_.wait_until(lock, due);
                    continue;
                }
                clockBase_ = due;
            }
            WaveHeader* h = queued_.front();
            queued_.pop_front();
            if (input_) {
                Fill(reinterpret_cast<uint8_t*>(h->lpData), h->dwBufferLength);
                h->dwBytesRecorded = h->dwBufferLength;
            } else {
                card_.AddPlayed(format_, h->lpData, h->dwBufferLength);
            }
            h->dwFlags = (h->dwFlags & ~kWaveHeaderInQueue) | kWaveHeaderDone;
            card_.completed[input_ ? 0 : 1].fetch_add(1);
            done_.push_back(h);
        }
    }

    // One sample of channel c at frame n, at the 16-bit scale.
    int32_t Sample(uint64_t n, unsigned c) const {
        const VirtualCardConfig& cfg = card_.config;
        switch (cfg.input) {
            case VirtualCardConfig::Input::kSilence:
                return 0;
            case VirtualCardConfig::Input::kTone: {
                const double phase = 2.0 * 3.14159265358979323846 * cfg.toneHz *
                                     static_cast<double>(n) / format_.nSamplesPerSec;
                return static_cast<int32_t>(std::lround(16384.0 * std::sin(phase)));
            }
            case VirtualCardConfig::Input::kRamp:
                return static_cast<int32_t>(n % 32768);
            case VirtualCardConfig::Input::kPcm: {
                const unsigned channels = cfg.inputChannels;
                if (channels == 0 || cfg.inputPcm.empty()) return 0;
                const uint64_t frames = cfg.inputPcm.size() / channels;
                if (n >= frames) {
                    if (!cfg.loop) return 0;
                    n %= frames;
                }
                // A device wider than the input repeats its last channel.
                const std::size_t base = static_cast<std::size_t>(n) * channels;
                return cfg.inputPcm[base + (std::min<unsigned>)(c, channels - 1u)];
            }
        }
        return 0;
    }

    void Fill(uint8_t* data, uint32_t bytes) {
        const uint32_t frames = bytes / format_.nBlockAlign;
        uint8_t* p = data;
        for (uint32_t f = 0; f < frames; ++f, ++position_) {
            for (unsigned c = 0; c < format_.nChannels; ++c) {
                const int32_t s = Sample(position_, c);
                if (format_.wBitsPerSample == 16) {
                    const uint16_t u = static_cast<uint16_t>(static_cast<int16_t>(s));
                    *p++ = static_cast<uint8_t>(u & 0xFF);
                    *p++ = static_cast<uint8_t>(u >> 8);
                } else {
                    *p++ = static_cast<uint8_t>((s >> 8) + 128);
                }
            }
        }
        std::memset(p, 0, bytes - frames * format_.nBlockAlign);
    }

    VirtualWaveService::Impl& card_;
    const bool input_;
    const WAVEFORMATEX format_;
    const WaveCallback callback_;
    const uintptr_t instance_;
    std::thread thread_;

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<WaveHeader*> queued_;  // at the device, in order
    std::deque<WaveHeader*> done_;    // finished, callback still to be made
    bool started_ = false;
    bool closing_ = false;
    bool inCallback_ = false;
    uint64_t credits_ = 0;
    Clock::time_point clockBase_ = Clock::now();  // when the front buffer began
    uint64_t position_ = 0;                        // frames captured so far
};

}  // namespace

void VirtualWaveService::Impl::Remove(VirtualDevice* device) {
    std::lock_guard<std::mutex> lock(devicesMutex);
    devices.erase(std::remove(devices.begin(), devices.end(), device), devices.end());
}

VirtualWaveService::VirtualWaveService(const VirtualCardConfig& config) : impl_(new Impl(config)) {}

VirtualWaveService::~VirtualWaveService() {
    std::vector<VirtualDevice*> left;
    {
        std::lock_guard<std::mutex> lock(impl_->devicesMutex);
        left.swap(impl_->devices);
    }
    for (VirtualDevice* d : left) {
        d->ForceClose();
        delete d;
    }
}

bool VirtualWaveService::Ready(std::string* error) const {
    if (!impl_->inputOk && error != nullptr) *error = impl_->inputError;
    return impl_->inputOk;
}

const char* VirtualWaveService::Name() const { return "virtual"; }

WaveDevice* VirtualWaveService::Open(WaveDirection direction, const WAVEFORMATEX& format, WaveCallback callback,
                                     uintptr_t instance) {
    if (impl_->Fault(WaveFault::kOpen) || callback == nullptr || !ValidFormat(format)) return nullptr;
    if (direction == WaveDirection::kInput && !impl_->inputOk) return nullptr;
    VirtualDevice* device = new (std::nothrow) VirtualDevice(*impl_, direction, format, callback, instance);
    if (device == nullptr) return nullptr;
    {
        std::lock_guard<std::mutex> lock(impl_->devicesMutex);
        try {
            impl_->devices.push_back(device);
        } catch (const std::bad_alloc&) {
            delete device;
            return nullptr;
        }
    }
    if (direction == WaveDirection::kOutput) {
        std::lock_guard<std::mutex> lock(impl_->playedMutex);
        impl_->lastOutput = format;
    }
    if (!device->Launch()) {
        impl_->Remove(device);
        delete device;
        return nullptr;
    }
    return device;
}

std::vector<std::string> VirtualWaveService::Describe() const {
    const VirtualCardConfig& c = impl_->config;
    std::string in = "input: ";
    switch (c.input) {
        case VirtualCardConfig::Input::kSilence: in += "silence"; break;
        case VirtualCardConfig::Input::kTone: in += "tone " + std::to_string(c.toneHz) + " Hz"; break;
        case VirtualCardConfig::Input::kRamp: in += "counting ramp"; break;
        case VirtualCardConfig::Input::kPcm:
            in += std::to_string(c.inputChannels ? c.inputPcm.size() / c.inputChannels : 0) + " frames of " +
                  std::to_string(c.inputChannels) + "-channel PCM from the host";
            break;
    }
    std::string out = "output: ";
    switch (c.output) {
        case VirtualCardConfig::Output::kDiscard: out += "discarded"; break;
        case VirtualCardConfig::Output::kMemory: out += "kept in memory"; break;
        case VirtualCardConfig::Output::kCallback: out += "handed to the host"; break;
    }
    std::string clock = c.clock == VirtualCardConfig::Clock::kManual ? "clock: manual"
                        : c.speed > 0 ? "clock: real time x" + std::to_string(c.speed)
                                      : "clock: unpaced";
    return {"virtual sound card", "  " + in, "  " + out, "  " + clock};
}

std::unique_ptr<WaveEvent> VirtualWaveService::MakeEvent(const char* name) {
    if (impl_->Fault(WaveFault::kEvent)) return nullptr;
    return WaveService::MakeEvent(name);
}

bool VirtualWaveService::MakeWorker(std::thread* worker, std::function<void()> body) {
    if (impl_->Fault(WaveFault::kThread)) return false;
    return WaveService::MakeWorker(worker, std::move(body));
}

void VirtualWaveService::FailOn(WaveFault point, uint32_t nth) {
    const std::size_t i = static_cast<std::size_t>(point);
    if (i >= kFaultPoints) return;
    impl_->calls[i].store(0);
    impl_->failAt[i].store(nth);
}

uint32_t VirtualWaveService::Calls(WaveFault point) const {
    const std::size_t i = static_cast<std::size_t>(point);
    return i < kFaultPoints ? impl_->calls[i].load() : 0;
}

void VirtualWaveService::Step(uint32_t buffers) {
    std::lock_guard<std::mutex> lock(impl_->devicesMutex);
    for (VirtualDevice* d : impl_->devices) d->Grant(buffers);
    for (VirtualDevice* d : impl_->devices) d->WaitIdle();
}

bool VirtualWaveService::WaitForQueued(WaveDirection direction, std::size_t count, uint32_t timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (QueuedBuffers(direction) >= count) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

std::size_t VirtualWaveService::OpenDevices() const {
    std::lock_guard<std::mutex> lock(impl_->devicesMutex);
    return impl_->devices.size();
}

std::size_t VirtualWaveService::QueuedBuffers(WaveDirection direction) const {
    std::lock_guard<std::mutex> lock(impl_->devicesMutex);
    std::size_t total = 0;
    for (const VirtualDevice* d : impl_->devices) {
        if (d->IsInput() == (direction == WaveDirection::kInput)) total += d->Queued();
    }
    return total;
}

uint64_t VirtualWaveService::CompletedBuffers(WaveDirection direction) const {
    return impl_->completed[direction == WaveDirection::kInput ? 0 : 1].load();
}

std::vector<uint8_t> VirtualWaveService::PlayedBytes() const {
    std::lock_guard<std::mutex> lock(impl_->playedMutex);
    return impl_->played;
}

WAVEFORMATEX VirtualWaveService::LastOutputFormat() const {
    std::lock_guard<std::mutex> lock(impl_->playedMutex);
    return impl_->lastOutput;
}

}  // namespace aurivane
