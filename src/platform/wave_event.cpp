#include "platform/wave_event.h"

#include <condition_variable>
#include <mutex>
#include <new>

namespace aurivane {

namespace {

#if defined(_WIN32)
class KernelEvent final : public WaveEvent {
public:
    explicit KernelEvent(HANDLE handle) : handle_(handle) {}
    ~KernelEvent() override { CloseHandle(handle_); }
    void Signal() override { SetEvent(handle_); }
    void Wait() override { WaitForSingleObject(handle_, INFINITE); }

private:
    HANDLE handle_;
};
#else
class CondvarEvent final : public WaveEvent {
public:
    void Signal() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            signalled_ = true;
        }
        cv_.notify_one();
    }
    void Wait() override {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [this] { return signalled_; });
        signalled_ = false;  // auto-reset: one wake per burst of signals
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = false;
};
#endif

}  // namespace

std::unique_ptr<WaveEvent> NewPlatformEvent(const char* name) {
#if defined(_WIN32)
    HANDLE handle = CreateEventA(nullptr, FALSE, FALSE, name);
    if (handle == nullptr) return nullptr;
    std::unique_ptr<WaveEvent> event(new (std::nothrow) KernelEvent(handle));
    if (!event) CloseHandle(handle);
    return event;
#else
    (void)name;
    return std::unique_ptr<WaveEvent>(new (std::nothrow) CondvarEvent());
#endif
}

}  // namespace aurivane
