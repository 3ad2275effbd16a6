// A Windows host that codes a generated 44.1 kHz stereo signal to HE-AAC v2
// through aurivane.dll's AacEncoder (CreateObject resolved by ordinal), in
// call sizes a recorder would use, and writes the input as a WAV file and
// the records as an AacPacketStream, for comparison with the native build's
// records of the same WAV (compare_aac_records.sh).
//
//   aac_encoder_host aurivane.dll OUT_DIR
#include <aurivane/aurivane.h>
#include <aurivane/aurivane_loader.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int passed = 0;
int failed = 0;

void Check(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok  " : "FAIL", what);
    (ok ? passed : failed)++;
}

class Collector final : public aurivane::AudioSink {
public:
    int32_t Process(const void* data, uint32_t byteCount) override {
        const auto* p = static_cast<const uint8_t*>(data);
        if (p != nullptr) bytes.insert(bytes.end(), p, p + byteCount);
        lastData = data;
        ++calls;
        return 1;
    }
    std::vector<uint8_t> bytes;
    const void* lastData = nullptr;
    int calls = 0;
};

constexpr int kRate = 44100;
constexpr int kFrame = 2048;  // sample periods per access unit

// 5 s of stereo in integer arithmetic only, so that the native build and
// this one code the very same samples: a plucked square melody decaying on
// the left, a sawtooth pad on the right, a shared bass and a little noise.
std::vector<int16_t> Signal() {
    const int n = kRate * 5;
    std::vector<int16_t> pcm(2 * static_cast<std::size_t>(n));
    const uint32_t notes[] = {262, 330, 392, 523, 494, 392, 587, 440};
    uint32_t noise = 12345, pluckPhase = 0, padPhase = 0, bassPhase = 0;
    int32_t envelope = 0;
    for (int i = 0; i < n; ++i) {
        if (i % (kRate / 4) == 0) envelope = 12000;  // a new note every 250 ms
        if (i % 64 == 0) envelope = envelope * 31 / 32;
        pluckPhase += notes[(i / (kRate / 4)) % 8] * 97391u;  // 2^32 / 44100 = 97391.5
        padPhase += 220u * 97391u;
        bassPhase += 55u * 97391u;
        noise = noise * 1664525u + 1013904223u;
        const int32_t pluck = (pluckPhase >> 31) ? envelope : -envelope;
        const int32_t pad = static_cast<int32_t>(padPhase >> 20) - 2048;  // +-2048
        const int32_t bass = (bassPhase >> 31) ? 3000 : -3000;
        const int32_t hiss = static_cast<int32_t>(noise >> 24) - 128;
        pcm[2 * i] = static_cast<int16_t>(pluck + bass + hiss);
        pcm[2 * i + 1] = static_cast<int16_t>(pluck / 8 + 2 * pad + bass + hiss);
    }
    return pcm;
}

void Put32(std::vector<uint8_t>* out, uint32_t v) {
    for (int b = 0; b < 4; ++b) out->push_back(static_cast<uint8_t>(v >> (8 * b)));
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

bool WriteWav(const std::string& path, const std::vector<int16_t>& pcm) {
    std::vector<uint8_t> w = {'R', 'I', 'F', 'F'};
    const uint32_t data = static_cast<uint32_t>(pcm.size() * 2);
    Put32(&w, 36 + data);
    for (char c : std::string("WAVEfmt ")) w.push_back(static_cast<uint8_t>(c));
    Put32(&w, 16);
    Put32(&w, 1 | (2 << 16));  // PCM, two channels
    Put32(&w, kRate);
    Put32(&w, kRate * 4);
    Put32(&w, 4 | (16 << 16));  // block align, bits per sample
    for (char c : std::string("data")) w.push_back(static_cast<uint8_t>(c));
    Put32(&w, data);
    for (int16_t s : pcm) {
        w.push_back(static_cast<uint8_t>(s & 0xFF));
        w.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
    }
    return WriteFile(path, w);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::printf("usage: aac_encoder_host aurivane.dll OUT_DIR\n");
        return 2;
    }
    const std::string dir = argv[2];
    aurivane::DllLoader engine;
    Check(engine.Load(argv[1]), "LoadLibrary and both ordinals");
    if (!engine.Loaded()) {
        std::printf("%d passed, %d failed\n", passed, failed);
        return 1;
    }
    const ClassId* id = &aurivane::kAacEncoderId;
    WAVEFORMATEX format{};
    format.wFormatTag = 1;  // WAVE_FORMAT_PCM
    format.nChannels = 2;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;

    // A refused rate leaves the object passing its input through.
    {
        auto* encoder = static_cast<aurivane::AacEncoderInterface*>(engine.create(id));
        Check(encoder != nullptr, "CreateObject(AacEncoder)");
        if (encoder != nullptr) {
            Collector sink;
            encoder->AddSink(&sink);
            format.nSamplesPerSec = 16000;
            Check(encoder->Open(&format, 32000) == 0, "Open refuses 16000 Hz");
            const int16_t pcm[4] = {1, 2, 3, 4};
            encoder->Process(pcm, sizeof pcm);
            Check(sink.lastData == pcm && sink.bytes.size() == sizeof pcm, "refused: input passed through");
            engine.destroy(id, encoder);
        }
    }

    auto* encoder = static_cast<aurivane::AacEncoderInterface*>(engine.create(id));
    if (encoder == nullptr) {
        std::printf("%d passed, %d failed\n", passed, failed + 1);
        return 1;
    }
    Collector sink;
    encoder->AddSink(&sink);
    format.nSamplesPerSec = kRate;
    format.nAvgBytesPerSec = kRate * 4;
    Check(encoder->Open(&format, 32000) == 1, "Open takes 44100 Hz stereo at 32000 bit/s");

    // As the program codes a file: whole frames, the last one padded with
    // zeros, and two silent frames that flush the filter banks.
    std::vector<int16_t> pcm = Signal();
    const std::size_t frames = (pcm.size() / 2 + kFrame - 1) / kFrame + 2;
    const std::vector<int16_t> input = pcm;
    pcm.resize(frames * kFrame * 2, 0);
    // 20 ms blocks (3528 bytes) as a recorder delivers them: the bytes that
    // do not fill a frame are carried over to the next call.
    const std::size_t total = pcm.size() * 2, block = 3528;
    LARGE_INTEGER t0, t1, hz;
    QueryPerformanceFrequency(&hz);
    QueryPerformanceCounter(&t0);
    int calls = 0;
    for (std::size_t at = 0; at < total; at += block, ++calls) {
        const std::size_t n = at + block <= total ? block : total - at;
        encoder->Process(reinterpret_cast<const uint8_t*>(pcm.data()) + at, static_cast<uint32_t>(n));
    }
    QueryPerformanceCounter(&t1);
    engine.destroy(id, encoder);
    Check(sink.calls == calls, "one sink call per Process call");

    std::size_t records = 0, at = 0;
    bool fits = true;
    while (at < sink.bytes.size()) {
        const std::size_t n = sink.bytes[at];
        fits = fits && n > 0 && at + 1 + n <= sink.bytes.size();
        at += 1 + n;
        ++records;
    }
    Check(fits && at == sink.bytes.size(), "every record's length byte matches its access unit");
    Check(records == frames, "one record per frame of 2048 sample periods");
    const double seconds = double(t1.QuadPart - t0.QuadPart) / double(hz.QuadPart);
    std::printf("info: %zu records, %zu bytes, %.1f s of audio coded in %.3f s (%.0fx realtime under wine)\n", records,
                sink.bytes.size(), double(frames * kFrame) / kRate, seconds,
                seconds > 0 ? double(frames * kFrame) / kRate / seconds : 0.0);
    Check(WriteWav(dir + "/input.wav", input), "input.wav written");
    Check(WriteFile(dir + "/dll.aps", sink.bytes), "dll.aps written");
    engine.Unload();
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
