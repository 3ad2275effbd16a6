// Sound-card commands: list devices, record to WAV, play a WAV, loop the
// input into the output; on the platform's card or on the virtual one.
#include "audio_input.h"
#include "commands.h"
#include "wav_file.h"

#include <aurivane/aurivane.h>
#include <aurivane/wave_service.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace aurivane::cli {

namespace {

struct DeviceOptions {
    std::string device = "default";
    std::string input;   // virtual: audio file to capture from
    double toneHz = 0;   // virtual: tone to capture
    std::string output;  // virtual: WAV file that receives what is played
    double speed = 1.0;  // virtual: clock speed-up, 0 unpaced
    double seconds = 0;
    uint32_t rate = 8000;
    uint16_t channels = 1;
    std::vector<std::string> positional;
};

bool ParseNumber(const std::string& text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return end != text.c_str() && *end == '\0';
}

// False with a message on stderr for anything it does not understand.
bool ParseOptions(const char* command, const Args& args, DeviceOptions* o) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "aurivane %s: %s needs a value\n", command, a.c_str());
                return false;
            }
            *out = args[++i];
            return true;
        };
        auto number = [&](double* out, double min, double max) {
            std::string text;
            if (!value(&text)) return false;
            if (!ParseNumber(text, out) || *out < min || *out > max) {
                std::fprintf(stderr, "aurivane %s: bad value '%s' for %s\n", command, text.c_str(), a.c_str());
                return false;
            }
            return true;
        };
        double n = 0;
        if (a == "--device") {
            if (!value(&o->device)) return false;
            if (o->device != "default" && o->device != "virtual") {
                std::fprintf(stderr, "aurivane %s: --device is 'default' or 'virtual'\n", command);
                return false;
            }
        } else if (a == "--input") {
            if (!value(&o->input)) return false;
        } else if (a == "--output") {
            if (!value(&o->output)) return false;
        } else if (a == "--tone") {
            if (!number(&o->toneHz, 1, 100000)) return false;
        } else if (a == "--speed") {
            if (!number(&o->speed, 0, 1000)) return false;
        } else if (a == "--seconds") {
            if (!number(&o->seconds, 0.01, 86400)) return false;
        } else if (a == "--rate") {
            if (!number(&n, 1000, 192000)) return false;
            o->rate = static_cast<uint32_t>(n);
        } else if (a == "--channels") {
            if (!number(&n, 1, 2)) return false;
            o->channels = static_cast<uint16_t>(n);
        } else if (a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "aurivane %s: unknown option %s\n", command, a.c_str());
            return false;
        } else {
            o->positional.push_back(a);
        }
    }
    const bool virtualOnly = !o->input.empty() || o->toneHz > 0 || !o->output.empty() || o->speed != 1.0;
    if (virtualOnly && o->device != "virtual") {
        std::fprintf(stderr, "aurivane %s: --input, --tone, --output and --speed need --device virtual\n", command);
        return false;
    }
    if (!o->input.empty() && o->toneHz > 0) {
        std::fprintf(stderr, "aurivane %s: --input and --tone exclude each other\n", command);
        return false;
    }
    return true;
}

// Installs the chosen service for the lifetime of the object.
class ServiceChoice {
public:
    bool Install(const char* command, const DeviceOptions& o) {
        if (o.device == "virtual") {
            VirtualCardConfig c;
            c.clock = VirtualCardConfig::Clock::kRealTime;
            c.speed = o.speed;
            if (!o.input.empty()) {
                // The card takes samples, not files: read and fit them to the device format here.
                std::string error;
                if (!ReadAudio(o.input, static_cast<int>(o.rate), o.channels, &c.inputPcm, &error)) {
                    std::fprintf(stderr, "aurivane %s: %s\n", command, error.c_str());
                    return false;
                }
                c.input = VirtualCardConfig::Input::kPcm;
                c.inputChannels = o.channels;
            } else if (o.toneHz > 0) {
                c.input = VirtualCardConfig::Input::kTone;
                c.toneHz = o.toneHz;
            }
            if (!o.output.empty()) {
                c.output = VirtualCardConfig::Output::kMemory;
                output_ = o.output;
            } else {
                c.output = VirtualCardConfig::Output::kDiscard;
            }
            card_ = std::make_unique<VirtualWaveService>(c);
            std::string error;
            if (!card_->Ready(&error)) {
                std::fprintf(stderr, "aurivane %s: %s\n", command, error.c_str());
                return false;
            }
            SetWaveService(card_.get());
        }
        return true;
    }
    ~ServiceChoice() { SetWaveService(nullptr); }
    // Writes what the virtual card played to --output, once the player is closed.
    bool SaveOutput(const char* command) const {
        if (!card_ || output_.empty()) return true;
        const std::vector<uint8_t> played = card_->PlayedBytes();
        const WAVEFORMATEX f = card_->LastOutputFormat();
        std::vector<int16_t> samples(played.size() / 2);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            samples[i] = static_cast<int16_t>(played[2 * i] | (played[2 * i + 1] << 8));
        }
        const std::size_t frames = f.nChannels ? samples.size() / f.nChannels : 0;
        std::string error;
        if (!WriteWav(output_, samples.data(), frames, static_cast<int>(f.nSamplesPerSec), f.nChannels, &error)) {
            std::fprintf(stderr, "aurivane %s: %s\n", command, error.c_str());
            return false;
        }
        return true;
    }
    // Wall-clock seconds that `audio` seconds take on this service.
    double WallSeconds(double audio, const DeviceOptions& o) const {
        return card_ && o.speed > 0 ? audio / o.speed : card_ ? 0.0 : audio;
    }

private:
    std::unique_ptr<VirtualWaveService> card_;
    std::string output_;
};

WAVEFORMATEX Pcm16(uint32_t rate, uint16_t channels) {
    WAVEFORMATEX f{};
    f.wFormatTag = 1;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = 16;
    f.nBlockAlign = static_cast<uint16_t>(2 * channels);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    f.cbSize = 0;
    return f;
}

void OpenFailed(const char* command, const char* what, const WAVEFORMATEX& f) {
    std::fprintf(stderr, "aurivane %s: cannot open the %s device (%s) for %u Hz, %u channel(s), 16 bit\n", command,
                 what, CurrentWaveService().Name(), static_cast<unsigned>(f.nSamplesPerSec),
                 static_cast<unsigned>(f.nChannels));
}

// Collects captured bytes up to a limit.
class CaptureSink final : public AudioSink {
public:
    explicit CaptureSink(std::size_t limit) : limit_(limit) {}
    int32_t Process(const void* data, uint32_t byteCount) override {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        std::lock_guard<std::mutex> lock(mutex_);
        const std::size_t take = std::min<std::size_t>(byteCount, limit_ - bytes_.size());
        bytes_.insert(bytes_.end(), p, p + take);
        return 1;
    }
    std::size_t Size() {
        std::lock_guard<std::mutex> lock(mutex_);
        return bytes_.size();
    }
    std::vector<uint8_t> Take() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::move(bytes_);
    }

private:
    std::mutex mutex_;
    std::size_t limit_;
    std::vector<uint8_t> bytes_;
};

// Forwards captured bytes until a limit, counting them.
class CountingSink final : public AudioSink {
public:
    CountingSink(AudioSink* next, uint64_t limit) : next_(next), limit_(limit) {}
    int32_t Process(const void* data, uint32_t byteCount) override {
        const uint64_t done = count_.load();
        if (done >= limit_) return 1;
        const uint32_t take = static_cast<uint32_t>((std::min<uint64_t>)(byteCount, limit_ - done));
        count_.store(done + take);  // only the capture thread writes
        return next_->Process(data, take);
    }
    uint64_t Count() const { return count_.load(); }

private:
    AudioSink* next_;
    uint64_t limit_;
    std::atomic<uint64_t> count_{0};
};

void Progress(const char* verb, double done, double total) {
    std::fprintf(stderr, "\r%s %6.1f / %.1f s", verb, done, total);
    std::fflush(stderr);
}

// Waits until done() or the deadline, showing progress every half second.
bool WaitWithProgress(const char* verb, double total, double wallLimit, const std::function<double()>& done) {
    const auto begin = std::chrono::steady_clock::now();
    auto shown = begin;
    const bool longRun = total >= 2.0 && isatty(STDERR_FILENO) == 1;
    for (;;) {
        const double d = done();
        if (d >= total) break;
        const auto now = std::chrono::steady_clock::now();
        if (std::chrono::duration<double>(now - begin).count() > wallLimit) {
            if (longRun) std::fputc('\n', stderr);
            return false;
        }
        if (longRun && now - shown >= std::chrono::milliseconds(500)) {
            Progress(verb, d, total);
            shown = now;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (longRun) {
        Progress(verb, total, total);
        std::fputc('\n', stderr);
    }
    return true;
}

template <typename T>
struct Created {
    Created(const ClassId& id) : id_(id), object(static_cast<T*>(CreateObject(&id))) {}
    ~Created() { DestroyObject(&id_, object); }
    const ClassId& id_;
    T* object;
};

}  // namespace

int RunDevices(const Args& args) {
    DeviceOptions o;
    if (!ParseOptions("devices", args, &o) || !o.positional.empty()) {
        std::fprintf(stderr, "usage: aurivane devices [--device default|virtual]\n");
        return 2;
    }
    ServiceChoice service;
    if (!service.Install("devices", o)) return 1;
    std::printf("wave service: %s\n", CurrentWaveService().Name());
    for (const std::string& line : CurrentWaveService().Describe()) std::printf("  %s\n", line.c_str());
    return 0;
}

int RunRecord(const Args& args) {
    DeviceOptions o;
    if (!ParseOptions("record", args, &o) || o.positional.size() != 1 || o.seconds <= 0) {
        std::fprintf(stderr,
                     "usage: aurivane record OUT.wav --seconds N [--rate R] [--channels C]\n"
                     "         [--device default|virtual [--input IN.wav | --tone HZ] [--speed X]]\n");
        return 2;
    }
    ServiceChoice service;
    if (!service.Install("record", o)) return 1;
    const WAVEFORMATEX f = Pcm16(o.rate, o.channels);
    const uint32_t buffer = (std::max<uint32_t>)(f.nBlockAlign, f.nAvgBytesPerSec / 10 / f.nBlockAlign * f.nBlockAlign);
    const std::size_t total = static_cast<std::size_t>(o.seconds * o.rate) * f.nBlockAlign;
    Created<WaveRecorderInterface> recorder(kWaveRecorderId);
    if (recorder.object == nullptr) {
        std::fprintf(stderr, "aurivane record: this build has no WaveRecorder\n");
        return 1;
    }
    CaptureSink sink(total);
    recorder.object->AddSink(&sink);
    if (recorder.object->Start(&f, buffer, 4, buffer) != 1) {
        OpenFailed("record", "input", f);
        return 1;
    }
    const bool ok = WaitWithProgress("recorded", o.seconds, service.WallSeconds(o.seconds, o) * 2 + 5,
                                     [&] { return static_cast<double>(sink.Size()) / f.nAvgBytesPerSec; });
    recorder.object->Stop();
    if (!ok) {
        std::fprintf(stderr, "aurivane record: the input device stopped delivering audio\n");
        return 1;
    }
    const std::vector<uint8_t> bytes = sink.Take();
    WavData wav;
    wav.sampleRate = o.rate;
    wav.channels = o.channels;
    wav.samples.resize(bytes.size() / 2);
    for (std::size_t i = 0; i < wav.samples.size(); ++i) {
        wav.samples[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    std::string error;
    if (!WriteWav(o.positional[0], wav, &error)) {
        std::fprintf(stderr, "aurivane record: %s\n", error.c_str());
        return 1;
    }
    std::printf("recorded %.2f s of %u Hz, %u channel(s) to %s\n", static_cast<double>(wav.samples.size()) / o.channels / o.rate,
                static_cast<unsigned>(o.rate), static_cast<unsigned>(o.channels), o.positional[0].c_str());
    return 0;
}

int RunPlay(const Args& args) {
    DeviceOptions o;
    if (!ParseOptions("play", args, &o) || o.positional.size() != 1 || !o.input.empty() || o.toneHz > 0) {
        std::fprintf(stderr, "usage: aurivane play IN.wav [--device default|virtual [--output OUT.wav] [--speed X]]\n");
        return 2;
    }
    WavData wav;
    std::string error;
    if (!ReadWav(o.positional[0], &wav, &error)) {
        std::fprintf(stderr, "aurivane play: %s\n", error.c_str());
        return 1;
    }
    ServiceChoice service;
    if (!service.Install("play", o)) return 1;
    const WAVEFORMATEX f = Pcm16(wav.sampleRate, wav.channels);
    std::vector<uint8_t> bytes(wav.samples.size() * 2);
    for (std::size_t i = 0; i < wav.samples.size(); ++i) {
        bytes[2 * i] = static_cast<uint8_t>(wav.samples[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<uint8_t>((wav.samples[i] >> 8) & 0xFF);
    }
    Created<WavePlayerInterface> player(kWavePlayerId);
    if (player.object == nullptr) {
        std::fprintf(stderr, "aurivane play: this build has no CWavePlayer\n");
        return 1;
    }
    const uint32_t chunk = (std::max<uint32_t>)(f.nBlockAlign, f.nAvgBytesPerSec / 50 / f.nBlockAlign * f.nBlockAlign);
    constexpr uint32_t kBuffers = 8;
    // The whole file is handed over at once, so the backlog limit must hold it.
    if (player.object->Open(&f, chunk, kBuffers, static_cast<uint32_t>(bytes.size())) != 1) {
        OpenFailed("play", "output", f);
        return 1;
    }
    const double seconds = static_cast<double>(bytes.size()) / f.nAvgBytesPerSec;
    player.object->Process(bytes.data(), static_cast<uint32_t>(bytes.size()));
    // Pending bytes count down as the device takes chunks; the last pool of
    // buffers is still playing when they reach zero.
    const double tail = static_cast<double>(kBuffers) * chunk / f.nAvgBytesPerSec;
    const bool ok = WaitWithProgress("played", seconds, service.WallSeconds(seconds, o) * 2 + 5, [&] {
        return (static_cast<double>(bytes.size()) - player.object->GetPendingBytes()) / f.nAvgBytesPerSec;
    });
    std::this_thread::sleep_for(std::chrono::duration<double>(service.WallSeconds(tail, o)));
    player.object->Close();
    if (!ok) {
        std::fprintf(stderr, "aurivane play: the output device stopped taking audio\n");
        return 1;
    }
    if (!service.SaveOutput("play")) return 1;
    std::printf("played %.2f s of %s\n", seconds, o.positional[0].c_str());
    return 0;
}

int RunLoopback(const Args& args) {
    DeviceOptions o;
    if (!ParseOptions("loopback", args, &o) || !o.positional.empty() || o.seconds <= 0) {
        std::fprintf(stderr,
                     "usage: aurivane loopback --seconds N [--rate R] [--channels C]\n"
                     "         [--device default|virtual [--input IN.wav | --tone HZ] [--output OUT.wav] [--speed X]]\n");
        return 2;
    }
    ServiceChoice service;
    if (!service.Install("loopback", o)) return 1;
    const WAVEFORMATEX f = Pcm16(o.rate, o.channels);
    const uint32_t block = (std::max<uint32_t>)(f.nBlockAlign, f.nAvgBytesPerSec / 50 / f.nBlockAlign * f.nBlockAlign);
    Created<WaveRecorderInterface> recorder(kWaveRecorderId);
    Created<WavePlayerInterface> player(kWavePlayerId);
    if (recorder.object == nullptr || player.object == nullptr) {
        std::fprintf(stderr, "aurivane loopback: this build lacks the sound-card classes\n");
        return 1;
    }
    // Keep at most a quarter of a second waiting: the delay stays bounded.
    if (player.object->Open(&f, block, 4, f.nAvgBytesPerSec / 4) != 1) {
        OpenFailed("loopback", "output", f);
        return 1;
    }
    CountingSink counter(player.object, static_cast<uint64_t>(o.seconds * o.rate) * f.nBlockAlign);
    recorder.object->AddSink(&counter);
    if (recorder.object->Start(&f, block, 4, block) != 1) {
        OpenFailed("loopback", "input", f);
        player.object->Close();
        return 1;
    }
    const bool ok = WaitWithProgress("looped", o.seconds, service.WallSeconds(o.seconds, o) * 2 + 5,
                                     [&] { return static_cast<double>(counter.Count()) / f.nAvgBytesPerSec; });
    recorder.object->Stop();
    player.object->Close();
    if (!ok) {
        std::fprintf(stderr, "aurivane loopback: the input device stopped delivering audio\n");
        return 1;
    }
    if (!service.SaveOutput("loopback")) return 1;
    std::printf("looped %.2f s from input to output\n", static_cast<double>(counter.Count()) / f.nAvgBytesPerSec);
    return 0;
}

}  // namespace aurivane::cli
