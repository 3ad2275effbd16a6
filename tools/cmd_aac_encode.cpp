// AAC encoding commands: "encode --codec aac-lc" drives the AAC-LC core
// encoder directly at the input's own rate and frames its raw data blocks as
// ADTS; "encode --codec he-aac" drives the engine's AacEncoder object and
// writes its access units as ADTS (implicit SBR/PS signalling) or keeps the
// object's AacPacketStream records as they are (.aps).
#include "commands.h"

#include <aurivane/aurivane.h>

#include "adts_reader.h"
#include "audio_input.h"
#include "byte_sink.h"

#include "aacenc/aac_core_encoder.h"
#include "engine/aac_encoder_filter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace aurivane::cli {

namespace {

constexpr int kCoreFrame = 1024;  // samples per raw data block at the core rate

bool EndsWith(const std::string& s, const char* suffix) {
    const std::string x(suffix);
    return s.size() >= x.size() && s.compare(s.size() - x.size(), x.size(), x) == 0;
}

struct EncodeArgs {
    std::string codec;
    std::string in;
    std::string out;
    int bitrate = 32000;
};

// "32000" or "32k"; 0 when the text is not a positive bitrate.
int ParseBitrate(const std::string& text) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || v <= 0) return 0;
    double scale = 1.0;
    if (*end == 'k' || *end == 'K') {
        scale = 1000.0;
        ++end;
    }
    if (*end != '\0' || v * scale > 2.0e9) return 0;
    return static_cast<int>(v * scale + 0.5);
}

bool ParseArgs(const Args& args, EncodeArgs* out) {
    int files = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == "--codec" || args[i] == "--bitrate") && i + 1 < args.size()) {
            if (args[i] == "--codec") {
                out->codec = args[++i];
            } else if ((out->bitrate = ParseBitrate(args[++i])) == 0) {
                std::fprintf(stderr, "aurivane encode: bad bitrate '%s' (give bits per second, e.g. 32000 or 32k)\n",
                             args[i].c_str());
                return false;
            }
        } else if (args[i].rfind("--", 0) == 0) {
            std::fprintf(stderr, "aurivane encode: unknown option %s\n", args[i].c_str());
            return false;
        } else {
            (files == 0 ? out->in : out->out) = args[i];
            ++files;
        }
    }
    if (files != 2) {
        std::fprintf(stderr, "usage: aurivane encode --codec aac-lc|he-aac [--bitrate BPS] IN.wav OUT.aac%s\n",
                     out->codec == "he-aac" ? "|OUT.aps" : "");
        return false;
    }
    return true;
}

// The 7-byte ADTS header of one raw data block: MPEG-4, AAC-LC, no CRC,
// variable rate (buffer fullness 0x7FF).
void AppendAdtsFrame(int samplingIndex, int channelConfig, const uint8_t* block, std::size_t size,
                     std::vector<uint8_t>* out) {
    const std::size_t length = size + kAdtsHeaderBytes;
    const uint8_t header[kAdtsHeaderBytes] = {
        0xFF,
        0xF1,  // syncword, MPEG-4, layer 0, protection_absent
        static_cast<uint8_t>((1 << 6) | (samplingIndex << 2) | (channelConfig >> 2)),
        static_cast<uint8_t>(((channelConfig & 3) << 6) | (length >> 11)),
        static_cast<uint8_t>((length >> 3) & 0xFF),
        static_cast<uint8_t>(((length & 7) << 5) | 0x1F),
        0xFC,  // buffer fullness low bits, one raw data block
    };
    out->insert(out->end(), header, header + kAdtsHeaderBytes);
    out->insert(out->end(), block, block + size);
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!f) {
        std::fprintf(stderr, "aurivane encode: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

struct Input {
    int sampleRate = 0;
    int channels = 0;
    std::vector<int16_t> samples;  // interleaved
};

// Reads any audio file the program takes, converted to one of `rates` (the
// source rate when it is one of them) and to `channels` (0: the source's
// own, at most two).
bool LoadInput(const std::string& path, const std::vector<int>& rates, int channels, Input* in) {
    AudioInfo info;
    std::string error;
    if (!ProbeAudio(path, &info, &error)) {
        std::fprintf(stderr, "aurivane encode: %s\n", error.c_str());
        return false;
    }
    in->sampleRate = ChooseRate(info.sampleRate, rates);
    in->channels = channels != 0 ? channels : std::min(info.channels, 2);
    if (!ReadAudio(path, in->sampleRate, in->channels, &in->samples, &error)) {
        std::fprintf(stderr, "aurivane encode: %s\n", error.c_str());
        return false;
    }
    return true;
}

void PrintSummary(const char* what, std::size_t units, std::size_t payloadBytes, std::size_t largest, int coreRate,
                  const AacCoreStats* stats) {
    const double seconds = double(units) * kCoreFrame / coreRate;
    std::printf("%s: %zu access units, %.3f s, %.2f kbit/s without framing, largest %zu bytes\n", what, units, seconds,
                seconds > 0 ? payloadBytes * 8.0 / seconds / 1000.0 : 0.0, largest);
    if (stats != nullptr) {
        std::printf("core: %lld ceiling hits, %lld SBR payloads dropped, %lld writer mismatches, %lld reservoir errors\n",
                    static_cast<long long>(stats->ceilingHits), static_cast<long long>(stats->sbrDropped),
                    static_cast<long long>(stats->writerMismatches), static_cast<long long>(stats->reservoirErrors));
    }
}

bool CoreAccepts(int sampleRate, int bitrate, int bandwidth) {
    AacCoreConfig config{};
    config.sampleRate = sampleRate;
    config.bitRate = bitrate;
    config.inputChannels = 1;
    config.outputChannels = 1;
    config.bandwidth = bandwidth;
    AacCoreEncoder* core = nullptr;
    const bool ok = AacCoreOpen(&core, config) == 0 && core != nullptr;
    AacCoreClose(core);
    return ok;
}

// Audio bandwidth for a plain AAC-LC stream: the whole band from about one
// bit per sample up (a lowpass below Nyquist cost more in log-spectral
// distance than it gave in SNR at 32 kbit/s and 22.05 kHz), narrowed in
// proportion below that so that the lines left get the bits.
int LcBandwidth(int sampleRate, int bitrate) {
    const int nyquist = sampleRate / 2;
    if (bitrate >= sampleRate) return nyquist;
    return std::clamp(static_cast<int>(int64_t{nyquist} * bitrate / sampleRate), std::min(4000, nyquist), nyquist);
}

int EncodeAacLc(const EncodeArgs& a) {
    if (EndsWith(a.out, ".aps")) {
        std::fprintf(stderr, "aurivane encode: --codec aac-lc writes ADTS (.aac) only\n");
        return 2;
    }
    // The core has band tables for these rates only and codes one channel.
    Input wav;
    if (!LoadInput(a.in, {11025, 12000, 16000, 22050, 24000}, 1, &wav)) return 1;
    const int rate = wav.sampleRate;
    // The core's limits depend on the rate: find the accepted range by asking
    // the core itself and clamp into it.
    int bitrate = a.bitrate;
    if (!CoreAccepts(rate, bitrate, LcBandwidth(rate, bitrate))) {
        int low = 0, high = 0;
        for (int b = 1000; b <= 400000; b += 1000) {
            if (CoreAccepts(rate, b, LcBandwidth(rate, b))) {
                if (low == 0) low = b;
                high = b;
            }
        }
        if (low == 0) {
            std::fprintf(stderr, "aurivane encode: the core encoder refuses %d Hz\n", rate);
            return 1;
        }
        // Refine the ends to the bit per second.
        while (low > 1 && CoreAccepts(rate, low - 1, LcBandwidth(rate, low - 1))) --low;
        while (CoreAccepts(rate, high + 1, LcBandwidth(rate, high + 1))) ++high;
        const int clamped = std::clamp(bitrate, low, high);
        std::fprintf(stderr, "aurivane encode: %d bit/s is outside %d to %d bit/s at %d Hz; using %d bit/s\n", bitrate,
                     low, high, rate, clamped);
        bitrate = clamped;
    }
    AacCoreConfig config{};
    config.sampleRate = rate;
    config.bitRate = bitrate;
    config.inputChannels = 1;
    config.outputChannels = 1;
    config.bandwidth = LcBandwidth(rate, bitrate);
    AacCoreEncoder* core = nullptr;
    if (AacCoreOpen(&core, config) != 0 || core == nullptr) {
        std::fprintf(stderr, "aurivane encode: the core encoder refuses %d Hz at %d bit/s\n", rate, bitrate);
        return 1;
    }
    // One frame of zeros beyond the last whole one flushes the transform's
    // look-ahead, so the end of the input is in the stream.
    const std::size_t frames = (wav.samples.size() + kCoreFrame - 1) / kCoreFrame + 1;
    std::vector<float> pcm(kCoreFrame);
    std::vector<uint8_t> block(6144 / 8 + 64);
    std::vector<uint8_t> adts;
    adts.reserve(frames * static_cast<std::size_t>(bitrate / 8 * kCoreFrame / rate + kAdtsHeaderBytes + 16));
    const int samplingIndex = AdtsSamplingIndex(rate);
    std::size_t units = 0, payload = 0, largest = 0;
    for (std::size_t f = 0; f < frames; ++f) {
        for (std::size_t i = 0; i < kCoreFrame; ++i) {
            const std::size_t n = f * kCoreFrame + i;
            pcm[i] = n < wav.samples.size() ? wav.samples[n] : 0.0f;
        }
        int bytes = 0;
        AacCoreEncodeFrame(core, pcm.data(), 1, nullptr, 0, block.data(), &bytes);
        if (bytes <= 0) continue;
        AppendAdtsFrame(samplingIndex, 1, block.data(), static_cast<std::size_t>(bytes), &adts);
        ++units;
        payload += static_cast<std::size_t>(bytes);
        largest = std::max(largest, static_cast<std::size_t>(bytes));
    }
    const AacCoreStats stats = *AacCoreGetStats(core);
    AacCoreClose(core);
    if (!WriteFile(a.out, adts)) return 1;
    char what[96];
    std::snprintf(what, sizeof what, "AAC-LC mono %d Hz at %d bit/s", rate, bitrate);
    PrintSummary(what, units, payload, largest, rate, &stats);
    return 0;
}

// Accepted HE-AAC bitrates per input rate, [low, high): the rows of the SBR
// tuning table for one channel. Used only to word the refusal.
struct HeRange {
    int inputRate, low, high;
};
constexpr HeRange kHeRanges[] = {{32000, 10000, 20000}, {44100, 8000, 44001}, {48000, 12000, 44001}};


int EncodeHeAac(const EncodeArgs& a) {
    AudioInfo info;
    std::string error;
    if (!ProbeAudio(a.in, &info, &error)) {
        std::fprintf(stderr, "aurivane encode: %s\n", error.c_str());
        return 1;
    }
    const bool packetStream = EndsWith(a.out, ".aps");
    if (packetStream && info.sampleRate != 44100) {
        std::fprintf(stderr,
                     "aurivane encode: an AacPacketStream (.aps) carries no rate and its decoder assumes a 22050 Hz "
                     "core, so it is written only from 44100 Hz input; write .aac (ADTS) for %d Hz\n",
                     info.sampleRate);
        return 2;
    }
    // Other rates are converted: to the nearest rate of the SBR tuning
    // table, or to the first one whose row holds the bitrate.
    auto accepts = [&a](int inputRate) {
        for (const HeRange& r : kHeRanges) {
            if (r.inputRate == inputRate) return a.bitrate >= r.low && a.bitrate < r.high;
        }
        return false;
    };
    int target = ChooseRate(info.sampleRate, {32000, 44100, 48000});
    if (target != info.sampleRate && !accepts(target)) {
        for (int alternative : {44100, 48000, 32000}) {
            if (accepts(alternative)) {
                target = alternative;
                break;
            }
        }
    }
    Input wav;
    if (!LoadInput(a.in, {target}, 0, &wav)) return 1;
    const int rate = wav.sampleRate;
    const HeRange* range = nullptr;
    for (const HeRange& r : kHeRanges) {
        if (r.inputRate == rate) range = &r;
    }
    if (range == nullptr) return 1;
    if (a.bitrate < range->low || a.bitrate >= range->high) {
        std::fprintf(stderr, "aurivane encode: at %d Hz HE-AAC takes %d to %d bit/s (asked for %d)\n", rate,
                     range->low, range->high - 1, a.bitrate);
        return 2;
    }
    void* object = CreateObject(&kAacEncoderId);
    auto* encoder = static_cast<AacEncoderInterface*>(object);
    if (encoder == nullptr) {
        std::fprintf(stderr, "aurivane encode: this build does not provide the AacEncoder class\n");
        return 1;
    }
    WAVEFORMATEX format{};
    format.wFormatTag = 1;  // WAVE_FORMAT_PCM
    format.nChannels = static_cast<uint16_t>(wav.channels);
    format.nSamplesPerSec = static_cast<uint32_t>(wav.sampleRate);
    format.wBitsPerSample = 16;
    format.nBlockAlign = static_cast<uint16_t>(2 * wav.channels);
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    ByteSink sink;
    encoder->AddSink(&sink);
    if (encoder->Open(&format, a.bitrate) != 1) {
        DestroyObject(&kAacEncoderId, object);
        std::fprintf(stderr, "aurivane encode: the AacEncoder refuses %d Hz, %d channel%s at %d bit/s\n", rate,
                     wav.channels, wav.channels == 1 ? "" : "s", a.bitrate);
        return 1;
    }
    // The input in calls of 16 frames (the object carries what does not
    // fill a frame over to the next call), then zeros up to a whole frame
    // and two silent frames that flush the QMF banks and the core's
    // look-ahead.
    const std::size_t frameValues = 2048u * static_cast<std::size_t>(wav.channels);
    for (std::size_t at = 0; at < wav.samples.size(); at += 16 * frameValues) {
        const std::size_t n = std::min(16 * frameValues, wav.samples.size() - at);
        encoder->Process(wav.samples.data() + at, static_cast<uint32_t>(n * 2));
    }
    const std::vector<int16_t> tail((frameValues - wav.samples.size() % frameValues) % frameValues + 2 * frameValues, 0);
    encoder->Process(tail.data(), static_cast<uint32_t>(tail.size() * 2));
    // The statically linked program may look past the object's interface.
    const AacCoreStats* coreStats = static_cast<const AacEncoderFilter*>(object)->CoreStats();
    const AacCoreStats stats = coreStats != nullptr ? *coreStats : AacCoreStats{};
    DestroyObject(&kAacEncoderId, object);

    const int coreRate = rate / 2;
    std::size_t units = 0, payload = 0, largest = 0;
    std::vector<uint8_t> adts;
    for (std::size_t at = 0; at < sink.bytes.size();) {
        const std::size_t n = sink.bytes[at];
        if (at + 1 + n > sink.bytes.size()) {
            std::fprintf(stderr, "aurivane encode: the encoder's last record is cut short\n");
            return 1;
        }
        AppendAdtsFrame(AdtsSamplingIndex(coreRate), 1, sink.bytes.data() + at + 1, n, &adts);
        ++units;
        payload += n;
        largest = std::max(largest, n);
        at += 1 + n;
    }
    if (!WriteFile(a.out, packetStream ? sink.bytes : adts)) return 1;
    char what[96];
    std::snprintf(what, sizeof what, "HE-AAC v2 from %d Hz %s at %d bit/s", rate,
                  wav.channels == 1 ? "mono" : "stereo", a.bitrate);
    PrintSummary(what, units, payload, largest, coreRate, &stats);
    return 0;
}

}  // namespace

int RunEncodeAac(const Args& args) {
    EncodeArgs a;
    if (!ParseArgs(args, &a)) return 2;
    if (a.codec == "aac-lc") return EncodeAacLc(a);
    if (a.codec == "he-aac") return EncodeHeAac(a);
    std::fprintf(stderr, "aurivane encode: unknown codec '%s' (aac-lc, he-aac)\n", a.codec.c_str());
    return 2;
}

}  // namespace aurivane::cli
