#include <aurivane/wave_service.h>

#include "platform/platform_services.h"
#include "platform/wave_event.h"

#include <atomic>
#include <new>
#include <system_error>

namespace aurivane {

namespace {

std::atomic<WaveService*> g_current{nullptr};

}  // namespace

std::unique_ptr<WaveEvent> WaveService::MakeEvent(const char* name) { return NewPlatformEvent(name); }

bool WaveService::MakeWorker(std::thread* worker, std::function<void()> body) {
    try {
        *worker = std::thread(std::move(body));
        return true;
    } catch (const std::system_error&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

WaveService& DefaultWaveService() { return PlatformWaveService(); }

void SetWaveService(WaveService* service) { g_current.store(service, std::memory_order_release); }

WaveService& CurrentWaveService() {
    WaveService* service = g_current.load(std::memory_order_acquire);
    return service != nullptr ? *service : DefaultWaveService();
}

}  // namespace aurivane

namespace aurivane {

namespace {

#if !defined(_WIN32) && !defined(AURIVANE_HAVE_ALSA)
// A build without a sound-card interface: every open fails.
class NoDeviceService final : public WaveService {
public:
    const char* Name() const override { return "none"; }
    WaveDevice* Open(WaveDirection, const WAVEFORMATEX&, WaveCallback, uintptr_t) override { return nullptr; }
    std::vector<std::string> Describe() const override { return {"no sound-card interface in this build"}; }
};
#endif

}  // namespace

WaveService& PlatformWaveService() {
#if defined(_WIN32)
    return WinmmWaveService();
#elif defined(AURIVANE_HAVE_ALSA)
    return AlsaWaveService();
#else
    static NoDeviceService service;
    return service;
#endif
}

}  // namespace aurivane
