// G.729 commands: WAV to a raw G.729 frame stream and back, through the
// engine's G.729 filters, exactly as a host would drive them; decoding also
// reads the ITU serial bitstream and can lose frames on purpose.
#include "commands.h"

#include <aurivane/aurivane.h>
#include <aurivane/wave_service.h>

#include "audio_input.h"
#include "byte_sink.h"
#include "g729_frame_source.h"
#include "wav_file.h"
#include "wav_sink.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace aurivane::cli {

namespace {

constexpr uint32_t kPcmFrameBytes = 160;  // 80 samples, 10 ms
constexpr uint32_t kFrameBytes = 10;
// One second per Process call keeps the buffers small for long files.
constexpr uint32_t kFramesPerCall = 100;


// The two positional file names after an optional "--codec g729".
bool ParseFiles(const Args& args, const char* usage, std::string* in, std::string* out) {
    std::vector<std::string> files;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--codec" && i + 1 < args.size()) {
            if (args[i + 1] != "g729") {
                std::fprintf(stderr, "%s\n", usage);
                return false;
            }
            ++i;
        } else {
            files.push_back(args[i]);
        }
    }
    if (files.size() != 2) {
        std::fprintf(stderr, "%s\n", usage);
        return false;
    }
    *in = files[0];
    *out = files[1];
    return true;
}

// Runs the whole input through a new filter of the class, in calls of
// whole pieces, and returns everything it delivered (`expected` bytes is a
// hint to size the output once).
bool RunFilter(const ClassId* id, const char* name, const uint8_t* data, std::size_t size, uint32_t pieceBytes,
               std::size_t expected, std::vector<uint8_t>* out, ProgressLine* progress) {
    auto* filter = static_cast<AudioFilter*>(CreateObject(id));
    if (filter == nullptr) {
        std::fprintf(stderr, "aurivane: this build does not provide the %s class\n", name);
        return false;
    }
    ByteSink sink;
    sink.bytes.reserve(expected);
    filter->AddSink(&sink);
    const std::size_t step = static_cast<std::size_t>(pieceBytes) * kFramesPerCall;
    bool ok = true;
    for (std::size_t at = 0; at < size && ok; at += step) {
        const std::size_t n = size - at < step ? size - at : step;
        ok = filter->Process(data + at, static_cast<uint32_t>(n)) == 1;
        progress->Update(static_cast<double>(at + n) / pieceBytes / 100.0);  // 10 ms per piece
    }
    DestroyObject(id, filter);
    if (!ok) {
        std::fprintf(stderr, "aurivane: the %s failed\n", name);
        return false;
    }
    out->swap(sink.bytes);
    return true;
}

}  // namespace

int RunEncodeG729(const Args& args) {
    std::string inPath, outPath;
    if (!ParseFiles(args, "usage: aurivane encode --codec g729 IN OUT.g729", &inPath, &outPath)) return 2;
    std::vector<int16_t> samples;
    std::string error;
    // G.729 codes 8000 Hz mono; anything else is converted on the way in.
    if (!ReadAudio(inPath, 8000, 1, &samples, &error)) {
        std::fprintf(stderr, "aurivane encode: %s\n", error.c_str());
        return 1;
    }
    if (samples.empty()) {
        std::fprintf(stderr, "aurivane encode: %s holds no audio samples\n", inPath.c_str());
        return 1;
    }
    // The filter takes little-endian PCM bytes: the samples in place, the
    // last partial frame padded with silence so that the end of the
    // recording is coded too.
    const std::size_t frames = (samples.size() + 79) / 80;
    samples.resize(frames * 80, 0);
    if constexpr (std::endian::native == std::endian::big) {
        for (int16_t& v : samples) {
            const auto u = static_cast<uint16_t>(v);
            v = static_cast<int16_t>(static_cast<uint16_t>((u >> 8) | (u << 8)));
        }
    }
    const auto* pcm = reinterpret_cast<const uint8_t*>(samples.data());
    std::vector<uint8_t> coded;
    ProgressLine progress("encoding", frames / 100.0);
    if (!RunFilter(&kG729EncoderId, "G729Encoder", pcm, frames * kPcmFrameBytes, kPcmFrameBytes, frames * kFrameBytes,
                   &coded, &progress)) {
        return 1;
    }
    std::ofstream out(outPath, std::ios::binary);
    out.write(reinterpret_cast<const char*>(coded.data()), static_cast<std::streamsize>(coded.size()));
    if (!out) {
        std::fprintf(stderr, "aurivane encode: cannot write %s\n", outPath.c_str());
        return 1;
    }
    char summary[512];
    std::snprintf(summary, sizeof summary, "%s: %zu frames (%.2f s) -> %s, %zu bytes", inPath.c_str(), frames,
                  frames / 100.0, outPath.c_str(), coded.size());
    progress.Finish(summary);
    return 0;
}

namespace {

struct DecodeOptions {
    std::string in, out;
    double lossPercent = 0.0;
    int lossBurst = 1;
    uint64_t seed = 1;
};

// "--codec g729", "--loss P[,BURST]" and "--seed N" around the two files.
bool ParseDecodeOptions(const Args& args, DecodeOptions* o) {
    std::vector<std::string> files;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == "--codec" && hasValue) {
            if (args[++i] != "g729") return false;
        } else if (args[i] == "--loss" && hasValue) {
            char* end = nullptr;
            const std::string& v = args[++i];
            o->lossPercent = std::strtod(v.c_str(), &end);
            if (end == v.c_str()) return false;
            if (*end == ',') {
                const char* burst = end + 1;
                const long b = std::strtol(burst, &end, 10);
                if (end == burst || b < 1 || b > 50) return false;
                o->lossBurst = static_cast<int>(b);
            }
            if (*end != '\0' || !(o->lossPercent >= 0.0) ||
                o->lossPercent > FrameLossPattern::MaxPercent(o->lossBurst)) {
                return false;
            }
        } else if (args[i] == "--seed" && hasValue) {
            char* end = nullptr;
            o->seed = std::strtoull(args[++i].c_str(), &end, 10);
            if (*end != '\0') return false;
        } else {
            files.push_back(args[i]);
        }
    }
    if (files.size() != 2) return false;
    o->in = files[0];
    o->out = files[1];
    return true;
}

// The whole file: one read of its size where the size is known, blocks
// after that (a pipe, or a file that grew). False when it cannot be opened.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* out) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!f) return false;
    out->clear();
    if (std::fseek(f.get(), 0, SEEK_END) == 0) {
        const long size = std::ftell(f.get());
        if (size > 0 && std::fseek(f.get(), 0, SEEK_SET) == 0) {
            out->resize(static_cast<std::size_t>(size));
            out->resize(std::fread(out->data(), 1, out->size(), f.get()));
        }
    }
    uint8_t block[1 << 16];
    std::size_t n;
    while ((n = std::fread(block, 1, sizeof block, f.get())) > 0) out->insert(out->end(), block, block + n);
    return true;
}

// Feeds the frames to a new decoder object as a host on a lossy network
// would: runs of received frames as they are, runs of lost ones as a null
// buffer of their byte count. The decoded PCM goes to `sink` as delivered.
bool DecodeWithLosses(const std::vector<uint8_t>& frames, const std::vector<bool>& lost, AudioSink* sink,
                      ProgressLine* progress) {
    auto* filter = static_cast<AudioFilter*>(CreateObject(&kG729DecoderId));
    if (filter == nullptr) {
        std::fprintf(stderr, "aurivane: this build does not provide the G729Decoder class\n");
        return false;
    }
    filter->AddSink(sink);
    bool ok = true;
    for (std::size_t at = 0; at < lost.size() && ok;) {
        std::size_t n = 1;
        while (at + n < lost.size() && n < kFramesPerCall && lost[at + n] == lost[at]) ++n;
        const auto bytes = static_cast<uint32_t>(n * kFrameBytes);
        ok = filter->Process(lost[at] ? nullptr : frames.data() + at * kFrameBytes, bytes) == 1;
        at += n;
        progress->Update(static_cast<double>(at) / 100.0);
    }
    DestroyObject(&kG729DecoderId, filter);
    if (!ok) {
        std::fprintf(stderr, "aurivane: the G729Decoder failed\n");
        return false;
    }
    return true;
}

}  // namespace

int RunDecodeG729(const Args& args) {
    DecodeOptions opt;
    if (!ParseDecodeOptions(args, &opt)) {
        std::fprintf(stderr,
                     "usage: aurivane decode [--codec g729] [--loss P[,BURST]] [--seed N] IN OUT.wav\n"
                     "  IN: 10-byte G.729 frames (.g729), or with --codec g729 also the ITU serial\n"
                     "      bitstream (.bit), whose erased frames are concealed\n"
                     "  --loss: lose P %% of the frames in bursts of BURST frames on average (1 to 50,\n"
                     "          default 1; P at most 100 * BURST / (BURST + 1)); --seed picks the pattern\n");
        return 2;
    }
    std::vector<uint8_t> coded;
    if (!ReadWholeFile(opt.in, &coded)) {
        std::fprintf(stderr, "aurivane decode: cannot open %s\n", opt.in.c_str());
        return 1;
    }
    std::vector<bool> lost;
    std::size_t erased = 0;
    const bool serial = IsItuBitstream(coded);
    if (serial) {
        std::vector<uint8_t> frames;
        ReadItuBitstream(coded, &frames, &lost);
        coded.swap(frames);
        erased = static_cast<std::size_t>(std::count(lost.begin(), lost.end(), true));
    } else {
        if (coded.size() % kFrameBytes != 0) {
            std::fprintf(stderr, "aurivane decode: %s: ignoring a trailing partial frame of %zu bytes\n",
                         opt.in.c_str(), coded.size() % kFrameBytes);
        }
        lost.assign(coded.size() / kFrameBytes, false);
    }
    std::size_t dropped = 0;
    if (opt.lossPercent > 0.0) {
        FrameLossPattern pattern(opt.lossPercent, opt.lossBurst, opt.seed);
        for (std::size_t k = 0; k < lost.size(); ++k) {
            if (pattern.NextLost() && !lost[k]) {
                lost[k] = true;
                ++dropped;
            }
        }
    }
    std::string error;
    WavWriter out;
    if (!out.Open(opt.out, &error)) {
        // The cause in the wording the program's other WAV writer uses.
        std::fprintf(stderr, "aurivane decode: %s (System error : %s.)\n", error.c_str(), std::strerror(errno));
        return 1;
    }
    WavSink sink(&out);
    ProgressLine progress("decoding", static_cast<double>(lost.size()) / 100.0);
    if (!DecodeWithLosses(coded, lost, &sink, &progress)) {
        out.Finish(8000, 1, nullptr);
        std::remove(opt.out.c_str());  // no half-decoded file left behind
        return 1;
    }
    const uint64_t samples = out.SamplesWritten();
    if (!out.Finish(8000, 1, &error)) {
        std::fprintf(stderr, "aurivane decode: %s\n", error.c_str());
        return 1;
    }
    std::string losses;
    if (serial) losses += ", ITU serial bitstream with " + std::to_string(erased) + " erased";
    if (opt.lossPercent > 0.0) {
        char text[160];
        std::snprintf(text, sizeof text, ", %zu dropped (loss %.3g %%, bursts of %d, seed %llu)", dropped,
                      opt.lossPercent, opt.lossBurst, static_cast<unsigned long long>(opt.seed));
        losses += text;
    }
    if (!losses.empty()) losses += "; lost frames concealed";
    char summary[768];
    std::snprintf(summary, sizeof summary, "%s: %zu frames%s -> %s, %.2f s of 8000 Hz mono", opt.in.c_str(),
                  lost.size(), losses.c_str(), opt.out.c_str(), static_cast<double>(samples) / 8000.0);
    progress.Finish(summary);
    return 0;
}

namespace {

// Polls until done() holds or the time-out passes.
template <typename Done>
bool WaitFor(Done done, double seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace

int RunVoiceLoop(const Args& args) {
    const char* usage = "usage: aurivane voice-loop IN.wav OUT.wav [--speed N]";
    std::vector<std::string> files;
    double speed = 4.0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--speed" && i + 1 < args.size()) {
            speed = std::atof(args[++i].c_str());
        } else {
            files.push_back(args[i]);
        }
    }
    if (files.size() != 2 || !(speed > 0 && speed <= 100)) {
        std::fprintf(stderr, "%s\n", usage);
        return 2;
    }
    VirtualCardConfig config;
    std::string error;
    if (!ReadAudio(files[0], 8000, 1, &config.inputPcm, &error)) {
        std::fprintf(stderr, "aurivane voice-loop: %s\n", error.c_str());
        return 1;
    }

    // The virtual card plays the samples into the recorder and keeps what the
    // player hands it.
    config.speed = speed;
    config.input = VirtualCardConfig::Input::kPcm;
    config.inputChannels = 1;
    config.output = VirtualCardConfig::Output::kMemory;
    VirtualWaveService card(config);
    if (!card.Ready(&error)) {
        std::fprintf(stderr, "aurivane voice-loop: %s\n", error.c_str());
        return 1;
    }
    SetWaveService(&card);

    auto* recorder = static_cast<WaveRecorderInterface*>(CreateObject(&kWaveRecorderId));
    auto* encoder = static_cast<AudioFilter*>(CreateObject(&kG729EncoderId));
    auto* decoder = static_cast<AudioFilter*>(CreateObject(&kG729DecoderId));
    auto* player = static_cast<WavePlayerInterface*>(CreateObject(&kWavePlayerId));
    auto release = [&] {
        DestroyObject(&kWaveRecorderId, recorder);
        DestroyObject(&kG729EncoderId, encoder);
        DestroyObject(&kG729DecoderId, decoder);
        DestroyObject(&kWavePlayerId, player);
        SetWaveService(nullptr);
    };
    if (!recorder || !encoder || !decoder || !player) {
        std::fprintf(stderr, "aurivane voice-loop: this build lacks the recorder, player or G.729 classes\n");
        release();
        return 1;
    }

    WAVEFORMATEX format{};
    format.wFormatTag = 1;  // PCM
    format.nChannels = 1;
    format.nSamplesPerSec = 8000;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 2;
    format.nAvgBytesPerSec = 16000;
    // 20 ms capture blocks (two frames), one second of playback backlog.
    constexpr uint32_t kBlock = 2 * kPcmFrameBytes;
    if (player->Open(&format, kBlock, 8, 16000) != 1) {
        std::fprintf(stderr, "aurivane voice-loop: the player could not open the output device\n");
        release();
        return 1;
    }
    decoder->AddSink(player);
    encoder->AddSink(decoder);
    recorder->AddSink(encoder);
    if (recorder->Start(&format, kBlock, 8, kBlock) != 1) {
        std::fprintf(stderr, "aurivane voice-loop: the recorder could not start\n");
        release();
        return 1;
    }
    const std::size_t inputBytes = config.inputPcm.size() * 2;
    const double seconds = static_cast<double>(config.inputPcm.size()) / 8000.0;
    const bool captured = WaitFor(
        [&] { return card.CompletedBuffers(WaveDirection::kInput) * kBlock >= inputBytes + kBlock; },
        seconds / speed * 3 + 5);
    recorder->Stop();
    const bool drained = WaitFor(
        [&] { return player->GetPendingBytes() == 0 && card.QueuedBuffers(WaveDirection::kOutput) == 0; },
        seconds / speed + 5);
    player->Close();
    const std::vector<uint8_t> played = card.PlayedBytes();
    release();
    if (!captured || !drained) {
        std::fprintf(stderr, "aurivane voice-loop: the virtual card did not %s in time\n",
                     captured ? "finish playing" : "finish capturing");
        return 1;
    }

    std::vector<int16_t> output(played.size() / 2);
    for (std::size_t i = 0; i < output.size(); ++i) {
        output[i] = static_cast<int16_t>(static_cast<uint16_t>(played[2 * i] | (played[2 * i + 1] << 8)));
    }
    if (!WriteWav(files[1], output.data(), output.size(), 8000, 1, &error)) {
        std::fprintf(stderr, "aurivane voice-loop: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s (%.2f s) -> recorder -> G729Encoder -> G729Decoder -> player -> %s (%.2f s played)\n",
                files[0].c_str(), seconds, files[1].c_str(), output.size() / 8000.0);
    return 0;
}

}  // namespace aurivane::cli
