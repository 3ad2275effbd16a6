// The ALSA backend: the "default" PCM, one service thread per device that
// moves queued buffers through a non-blocking PCM and hands them back.
#include "platform/platform_services.h"
#include "platform/header_flags.h"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>

namespace aurivane {

namespace {

constexpr unsigned kLatencyMicroseconds = 100000;
constexpr int kPollMilliseconds = 20;  // bounds how long Reset waits for the thread

class AlsaDevice final : public WaveDevice {
public:
    AlsaDevice(snd_pcm_t* pcm, bool input, const WAVEFORMATEX& format, WaveCallback callback, uintptr_t instance)
        : pcm_(pcm), input_(input), format_(format), callback_(callback), instance_(instance) {}
    ~AlsaDevice() override { snd_pcm_close(pcm_); }

    bool Launch() {
        try {
            thread_ = std::thread([this] { Run(); });
            return true;
        } catch (const std::system_error&) {
            return false;
        }
    }

    bool Prepare(WaveHeader* h) override {
        if (h == nullptr || h->lpData == nullptr) return false;
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
        if (h == nullptr) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        if (!MarkQueued(h, input_)) return false;
        queued_.push_back(h);
        cv_.notify_all();
        return true;
    }

    bool Start() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (input_) started_ = true;
        cv_.notify_all();
        return true;
    }

    bool Reset() override {
        std::unique_lock<std::mutex> lock(mutex_);
        // The thread must not be inside a transfer into a buffer we hand back.
        if (std::this_thread::get_id() != thread_.get_id()) {
            ++resetWaiters_;  // keeps the thread from starting another transfer
            cv_.wait(lock, [this] { return !busy_; });
            --resetWaiters_;
        }
        while (!queued_.empty()) {
            WaveHeader* h = queued_.front();
            queued_.pop_front();
            if (input_) h->dwBytesRecorded = progress_;
            progress_ = 0;
            h->dwFlags = (h->dwFlags & ~kWaveHeaderInQueue) | kWaveHeaderDone;
            done_.push_back(h);
        }
        progress_ = 0;
        started_ = false;
        dropPending_ = true;
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
        thread_.join();
        delete this;
        return true;
    }

    uintptr_t NativeHandle() const override { return reinterpret_cast<uintptr_t>(this); }

private:
    bool CanTransfer() const { return resetWaiters_ == 0 && !queued_.empty() && (!input_ || started_); }

    void Run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (!done_.empty()) {
                WaveHeader* h = done_.front();
                done_.pop_front();
                lock.unlock();
                callback_(this, input_ ? kWimData : kWomDone, instance_, h);
                lock.lock();
                continue;
            }
            if (dropPending_) {
                dropPending_ = false;
                snd_pcm_drop(pcm_);
                snd_pcm_prepare(pcm_);
            }
            if (closing_) break;
            if (!CanTransfer()) {
                cv_.wait(lock);
                continue;
            }
            WaveHeader* h = queued_.front();
            const uint32_t offset = progress_;
            busy_ = true;
            lock.unlock();
            const uint32_t moved = Transfer(h, offset);
            lock.lock();
            busy_ = false;
            cv_.notify_all();
            progress_ += moved;
            if (progress_ + format_.nBlockAlign > h->dwBufferLength) {
                queued_.pop_front();
                if (input_) h->dwBytesRecorded = progress_;
                progress_ = 0;
                h->dwFlags = (h->dwFlags & ~kWaveHeaderInQueue) | kWaveHeaderDone;
                done_.push_back(h);
            }
        }
        // Let what was written play out; the player resets before it closes.
        lock.unlock();
        if (!input_) {
            snd_pcm_nonblock(pcm_, 0);
            snd_pcm_drain(pcm_);
        }
    }

    // Moves at most one wait's worth of frames; returns the bytes moved.
    uint32_t Transfer(WaveHeader* h, uint32_t offset) {
        const snd_pcm_uframes_t frames = (h->dwBufferLength - offset) / format_.nBlockAlign;
        if (frames == 0) return h->dwBufferLength - offset;  // a trailing partial frame
        if (input_ && snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED) snd_pcm_start(pcm_);
        const int ready = snd_pcm_wait(pcm_, kPollMilliseconds);
        if (ready == 0) return 0;
        char* p = h->lpData + offset;
        const snd_pcm_sframes_t n = input_ ? snd_pcm_readi(pcm_, p, frames) : snd_pcm_writei(pcm_, p, frames);
        if (n > 0) return static_cast<uint32_t>(n) * format_.nBlockAlign;
        if (n == -EAGAIN || ready < 0) {
            if (ready < 0 && snd_pcm_recover(pcm_, ready, 1) < 0) return Abandon(h, offset);
            return 0;
        }
        // Over- or underrun, or a suspended device.
        if (snd_pcm_recover(pcm_, static_cast<int>(n), 1) < 0) return Abandon(h, offset);
        return 0;
    }

    // A device that cannot recover still hands back its buffers: input as
    // silence, output as if played, so that no one waits for them forever.
    uint32_t Abandon(WaveHeader* h, uint32_t offset) {
        if (input_) {
            for (uint32_t i = offset; i < h->dwBufferLength; ++i) {
                h->lpData[i] = static_cast<char>(format_.wBitsPerSample == 8 ? 0x80 : 0);
            }
        }
        return h->dwBufferLength - offset;
    }

    snd_pcm_t* const pcm_;
    const bool input_;
    const WAVEFORMATEX format_;
    const WaveCallback callback_;
    const uintptr_t instance_;
    std::thread thread_;

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<WaveHeader*> queued_;
    std::deque<WaveHeader*> done_;
    uint32_t progress_ = 0;  // bytes of the front buffer already moved
    bool started_ = false;
    bool closing_ = false;
    bool busy_ = false;
    bool dropPending_ = false;
    int resetWaiters_ = 0;
};

class AlsaService final : public WaveService {
public:
    const char* Name() const override { return "alsa"; }

    WaveDevice* Open(WaveDirection direction, const WAVEFORMATEX& f, WaveCallback callback,
                     uintptr_t instance) override {
        if (callback == nullptr || f.nChannels == 0 || f.nSamplesPerSec == 0) return nullptr;
        snd_pcm_format_t format;
        if (f.wBitsPerSample == 16) {
            format = SND_PCM_FORMAT_S16_LE;
        } else if (f.wBitsPerSample == 8) {
            format = SND_PCM_FORMAT_U8;
        } else {
            return nullptr;
        }
        if (f.nBlockAlign != f.nChannels * (f.wBitsPerSample / 8)) return nullptr;
        const bool input = direction == WaveDirection::kInput;
        snd_pcm_t* pcm = nullptr;
        if (snd_pcm_open(&pcm, "default", input ? SND_PCM_STREAM_CAPTURE : SND_PCM_STREAM_PLAYBACK,
                         SND_PCM_NONBLOCK) < 0) {
            return nullptr;
        }
        if (snd_pcm_set_params(pcm, format, SND_PCM_ACCESS_RW_INTERLEAVED, f.nChannels, f.nSamplesPerSec, 1,
                               kLatencyMicroseconds) < 0 ||
            snd_pcm_prepare(pcm) < 0) {
            snd_pcm_close(pcm);
            return nullptr;
        }
        AlsaDevice* device = new (std::nothrow) AlsaDevice(pcm, input, f, callback, instance);
        if (device == nullptr) {
            snd_pcm_close(pcm);
            return nullptr;
        }
        if (!device->Launch()) {
            delete device;
            return nullptr;
        }
        return device;
    }

    std::vector<std::string> Describe() const override {
        std::vector<std::string> lines{"ALSA PCM \"default\" (capture and playback)"};
        int card = -1;
        while (snd_card_next(&card) == 0 && card >= 0) {
            char* name = nullptr;
            if (snd_card_get_longname(card, &name) == 0 && name != nullptr) {
                lines.push_back("  card " + std::to_string(card) + ": " + name);
                free(name);
            }
        }
        return lines;
    }
};

}  // namespace

WaveService& AlsaWaveService() {
    static AlsaService service;
    return service;
}

}  // namespace aurivane
