// A Windows host that records and plays through aurivane.dll on the default
// wave devices, using only the two ordinal exports.
#include <aurivane/aurivane.h>
#include <aurivane/aurivane_loader.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

int passed = 0;
int failed = 0;

void Check(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok  " : "FAIL", what);
    std::fflush(stdout);
    (ok ? passed : failed)++;
}

using Clock = std::chrono::steady_clock;

WAVEFORMATEX Pcm(DWORD rate, WORD channels) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = 16;
    f.nBlockAlign = static_cast<WORD>(channels * 2);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

// Runs on the wave service's thread: counts blocks and checks their size.
class CountingSink final : public aurivane::AudioSink {
public:
    explicit CountingSink(uint32_t expected) : expected_(expected) {}
    int32_t Process(const void*, uint32_t bytes) override {
        if (bytes != expected_) wrongSize.fetch_add(1);
        blocks.fetch_add(1);
        return 1;
    }
    std::atomic<int> blocks{0};
    std::atomic<int> wrongSize{0};

private:
    uint32_t expected_;
};

template <typename F>
bool WaitUntil(F done, int seconds) {
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (Clock::now() > deadline) return false;
        Sleep(2);
    }
    return true;
}

// Seconds a call took.
template <typename F>
double Timed(F call) {
    const auto begin = Clock::now();
    call();
    return std::chrono::duration<double>(Clock::now() - begin).count();
}

}  // namespace

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "aurivane.dll";
    aurivane::DllLoader engine;
    Check(engine.Load(path), "LoadLibrary and ordinals 1 and 2 resolve");
    if (!engine.Loaded()) {
        std::printf("%s: %s\n%d passed, %d failed\n", path, engine.Error(), passed, failed);
        return 1;
    }
    const aurivane::DllLoader::CreateFn create = engine.create;
    const aurivane::DllLoader::DestroyFn destroy = engine.destroy;

    using aurivane::WavePlayerInterface;
    using aurivane::WaveRecorderInterface;
    auto* recorder = static_cast<WaveRecorderInterface*>(create(&aurivane::kWaveRecorderId));
    auto* player = static_cast<WavePlayerInterface*>(create(&aurivane::kWavePlayerId));
    Check(recorder != nullptr && player != nullptr, "recorder and player created");
    if (recorder == nullptr || player == nullptr) {
        std::printf("%d passed, %d failed\n", passed, failed);
        return 1;
    }
    const WAVEFORMATEX f = Pcm(8000, 1);

    // Recording: 20 ms buffers into 40 ms blocks.
    {
        CountingSink sink(640);
        Check(recorder->GetDeviceHandle() == 0, "recorder has no device before Start");
        recorder->AddSink(&sink);
        Check(recorder->Start(&f, 320, 4, 640) == 1, "recorder Start");
        Check(recorder->GetDeviceHandle() != 0, "recorder device handle while capturing");
        Check(recorder->Start(&f, 100, 2, 100) == 1, "second Start returns 1");
        Check(WaitUntil([&] { return sink.blocks.load() >= 10; }, 20), "ten blocks captured");
        // Stop waits for every queued buffer; a device that kept one would
        // hold it for the 5 s give-up time.
        const double t = Timed([&] { Check(recorder->Stop() == 1, "recorder Stop"); });
        Check(t < 3.0, "recorder Stop got every buffer back promptly");
        Check(sink.wrongSize.load() == 0, "every block has the delivery size");
        Check(recorder->GetDeviceHandle() == 0, "recorder has no device after Stop");
        Check(recorder->RemoveSink(&sink) == 0, "Stop emptied the sink list");
    }

    // Playback: one second of a ramp, then Close while data is still queued.
    {
        std::vector<uint8_t> data(16000);
        for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
        Check(player->Open(&f, 320, 4, 1u << 20) == 1, "player Open");
        Check(player->GetDeviceHandle() != 0, "player device handle while open");
        Check(player->Process(data.data(), static_cast<uint32_t>(data.size())) == 1, "player Process");
        Check(WaitUntil([&] { return player->GetPendingBytes() == 0; }, 20), "player moved all data to the device");
        Check(player->Process(data.data(), static_cast<uint32_t>(data.size())) == 1, "player Process again");
        const double t = Timed([&] { Check(player->Close() == 1, "player Close with buffers queued"); });
        Check(t < 3.0, "player Close got every buffer back promptly");
        Check(player->GetPendingBytes() == 0 && player->GetDeviceHandle() == 0, "player getters are 0 after Close");
        Check(player->Process(data.data(), 10) == 0, "Process on a closed player returns 0");
    }

    // Recorder into player, several times.
    {
        bool opened = true, started = true, flowed = true, fast = true;
        for (int i = 0; i < 5; ++i) {
            CountingSink sink(320);
            opened = opened && player->Open(&f, 320, 4, 8000) == 1;
            recorder->AddSink(player);
            recorder->AddSink(&sink);
            started = started && recorder->Start(&f, 320, 4, 320) == 1;
            flowed = flowed && WaitUntil([&] { return sink.blocks.load() >= 5; }, 20);
            fast = fast && Timed([&] { recorder->Stop(); player->Close(); }) < 3.0;
        }
        Check(opened && started, "loopback: player Open and recorder Start, 5 times");
        Check(flowed, "loopback: captured blocks reach the player");
        Check(fast, "loopback: Stop and Close return promptly");
    }

    destroy(&aurivane::kWaveRecorderId, recorder);
    destroy(&aurivane::kWavePlayerId, player);
    engine.Unload();
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
