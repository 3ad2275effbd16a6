// libsndfile in, libsoxr between, 16-bit PCM WAV out; see audio_input.h.
// Whole files are held in memory: the commands code them in one pass.
#include "audio_input.h"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace aurivane {

const char* const kAcceptedAudio =
    "WAV (any PCM or float encoding), FLAC, AIFF, Ogg Vorbis, or another format libsndfile reads";

namespace {

using SndFile = std::unique_ptr<SNDFILE, int (*)(SNDFILE*)>;

bool Fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}

// What the first bytes of a file look like, for files libsndfile refuses.
std::string Sniff(const std::string& path, long long* size) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
    *size = -1;
    if (!f) return std::strerror(errno);
    unsigned char b[512];
    const std::size_t n = std::fread(b, 1, sizeof b, f.get());
    if (std::fseek(f.get(), 0, SEEK_END) == 0) *size = std::ftell(f.get());
    if (n >= 12 && std::memcmp(b, "RIFF", 4) == 0 && std::memcmp(b + 8, "WAVE", 4) == 0) return "a WAV file";
    if (n >= 4 && std::memcmp(b, "fLaC", 4) == 0) return "a FLAC file";
    if (n >= 12 && std::memcmp(b, "FORM", 4) == 0 && (std::memcmp(b + 8, "AIFF", 4) == 0 || std::memcmp(b + 8, "AIFC", 4) == 0))
        return "an AIFF file";
    if (n >= 4 && std::memcmp(b, "OggS", 4) == 0) return "an Ogg file";
    if (n >= 8 && std::memcmp(b + 4, "ftyp", 4) == 0) return "an MP4/M4A file";
    if (n >= 2 && b[0] == 0xFF && (b[1] & 0xF6) == 0xF0) return "an ADTS AAC stream";
    if (n >= 3 && std::memcmp(b, "ID3", 3) == 0) return "an MP3 file";
    if (n == 0) return "";
    bool text = true;
    for (std::size_t i = 0; i < n && text; ++i) {
        text = b[i] == '\t' || b[i] == '\n' || b[i] == '\r' || (b[i] >= 0x20 && b[i] != 0x7F);
    }
    return text ? "a text file" : "";
}

const char* MajorName(int format) {
    switch (format & SF_FORMAT_TYPEMASK) {
        case SF_FORMAT_WAV:
        case SF_FORMAT_WAVEX: return "WAV";
        case SF_FORMAT_RF64: return "RF64";
        case SF_FORMAT_AIFF: return "AIFF";
        case SF_FORMAT_FLAC: return "FLAC";
        case SF_FORMAT_OGG: return "Ogg";
        case SF_FORMAT_AU: return "AU";
        case SF_FORMAT_CAF: return "CAF";
        case SF_FORMAT_W64: return "W64";
        default: return "audio";
    }
}

const char* SubName(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8: return "8-bit";
        case SF_FORMAT_PCM_16: return "16-bit";
        case SF_FORMAT_PCM_24: return "24-bit";
        case SF_FORMAT_PCM_32: return "32-bit";
        case SF_FORMAT_FLOAT: return "32-bit float";
        case SF_FORMAT_DOUBLE: return "64-bit float";
        case SF_FORMAT_VORBIS: return "Vorbis";
        case SF_FORMAT_OPUS: return "Opus";
        case SF_FORMAT_ULAW: return "u-law";
        case SF_FORMAT_ALAW: return "A-law";
        default: return "";
    }
}

bool ReadAt(void* user, unsigned long long offset, uint8_t* header) {
    std::FILE* f = static_cast<std::FILE*>(user);
    return std::fseek(f, static_cast<long>(offset), SEEK_SET) == 0 && std::fread(header, 1, 8, f) == 8;
}

bool Open(const std::string& path, SndFile* file, AudioInfo* info, std::string* error, int* format = nullptr) {
    {
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
        std::string chunk;
        if (f && std::fseek(f.get(), 0, SEEK_END) == 0) {
            const long size = std::ftell(f.get());
            if (size > 0 && !RiffChunksFit(static_cast<unsigned long long>(size), ReadAt, f.get(), &chunk)) {
                return Fail(error, path + ": a damaged WAV file: its '" + chunk + "' chunk runs past the end of the file");
            }
        }
    }
    SF_INFO sf{};
    file->reset(sf_open(path.c_str(), SFM_READ, &sf));
    if (!*file) {
        const int code = sf_error(nullptr);
        const std::string why = sf_error_number(code);
        long long size = 0;
        const std::string what = Sniff(path, &size);
        if (size < 0) return Fail(error, path + ": cannot open (" + what + ")");
        if (size == 0) return Fail(error, path + ": the file is empty; expected audio: " + kAcceptedAudio);
        if (code == SF_ERR_UNSUPPORTED_ENCODING) {
            return Fail(error, path + ": " + (what.empty() ? "an audio file" : what) +
                                   " in an encoding libsndfile does not read (" + why + "); expected " + kAcceptedAudio);
        }
        if (code == SF_ERR_UNRECOGNISED_FORMAT) {
            return Fail(error, path + ": " + (what.empty() ? "not an audio file this program reads" : "is " + what +
                                                                   ", not an audio file this program reads") +
                                   "; expected " + kAcceptedAudio);
        }
        // libsndfile knew the container and stumbled inside it: the file is damaged.
        return Fail(error, path + ": a damaged " + (what.empty() ? "audio file" : what.substr(what.find(' ') + 1)) +
                               " (" + why + ")");
    }
    if (sf.channels < 1 || sf.samplerate < 1) return Fail(error, path + ": damaged header (no channels or no rate)");
    info->sampleRate = sf.samplerate;
    info->channels = sf.channels;
    info->frames = sf.frames;
    if (format) *format = sf.format;
    info->format = std::string(MajorName(sf.format)) + (*SubName(sf.format) ? " " : "") + SubName(sf.format);
    return true;
}

// A float file may hold NaN: silence, not an undefined conversion.
int16_t ToPcm16(float v) {
    if (std::isnan(v)) return 0;
    const float s = std::nearbyint(v * 32768.0f);
    return static_cast<int16_t>(std::clamp(s, -32768.0f, 32767.0f));
}

}  // namespace

// libsndfile 1.2 walks a chunk whose size runs past the end of the file
// (RIFF, or RF64 whose ds64 sizes only the 'data' chunk)
// step by step to its claimed end (minutes for a LIST chunk claiming 4 GB),
// so such a file is refused before libsndfile sees it. A 'data' chunk may
// run past the end: a streamed or cut recording, reported by CutShort.
bool RiffChunksFit(unsigned long long size, bool (*read)(void* user, unsigned long long offset, uint8_t* header),
                   void* user, std::string* chunk) {
    uint8_t h[8];
    if (size < 12 || !read(user, 0, h)) return true;
    if (std::memcmp(h, "RIFF", 4) != 0 && std::memcmp(h, "RF64", 4) != 0 && std::memcmp(h, "BW64", 4) != 0) return true;
    for (unsigned long long at = 12; at + 8 <= size && read(user, at, h);) {
        const unsigned long long length = h[4] | (h[5] << 8) | (h[6] << 16) | (static_cast<unsigned long long>(h[7]) << 24);
        if (std::memcmp(h, "data", 4) == 0) {
            if (at + 8 + length > size) return true;
        } else if (at + 8 + length > size) {
            if (chunk) *chunk = std::string(reinterpret_cast<const char*>(h), 4);
            return false;
        }
        at += 8 + length + (length & 1);
    }
    return true;
}

// libsndfile clips a data chunk that runs past the end of the file and
// notes "data : N (should be M)" in its log; a streamed WAV declares 0 or
// 0xFFFFFFFF and is not cut short.
bool CutShort(SNDFILE* file, unsigned long long* declared, unsigned long long* present) {
    char log[4096] = {0};
    sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
    for (const char* line = log; *line != '\0';) {
        const char* end = std::strchr(line, '\n');
        const std::string l(line, end ? static_cast<std::size_t>(end - line) : std::strlen(line));
        unsigned long long n = 0, m = 0;
        if ((l.rfind("data : ", 0) == 0 || l.rfind("SSND : ", 0) == 0) &&
            std::sscanf(l.c_str() + 7, "%llu (should be %llu)", &n, &m) == 2 && n > m && n != 0xFFFFFFFFull) {
            *declared = n;
            *present = m;
            return true;
        }
        if (!end) break;
        line = end + 1;
    }
    return false;
}

void FloatToPcm16(const float* in, int16_t* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) out[i] = ToPcm16(in[i]);
}

std::string ChannelName(int channels) {
    if (channels == 1) return "mono";
    if (channels == 2) return "stereo";
    return std::to_string(channels) + " channels";
}

bool ProbeAudio(const std::string& path, AudioInfo* info, std::string* error) {
    SndFile file(nullptr, sf_close);
    return Open(path, &file, info, error);
}

int ChooseRate(int sourceRate, const std::vector<int>& accepted) {
    int best = 0;
    for (int r : accepted) {
        if (r == sourceRate) return r;
        if (r > sourceRate && (best == 0 || r < best)) best = r;
    }
    if (best != 0) return best;
    for (int r : accepted) best = std::max(best, r);
    return best;
}

bool ReadAudio(const std::string& path, int targetRate, int targetChannels, std::vector<int16_t>* pcm,
               std::string* error, AudioInfo* source) {
    AudioInfo info;
    SndFile file(nullptr, sf_close);
    int format = 0;
    if (!Open(path, &file, &info, error, &format)) return false;
    if (source) *source = info;
    unsigned long long declared = 0, present = 0;
    if (CutShort(file.get(), &declared, &present)) {
        return Fail(error, path + ": a damaged " + info.format + " file cut short; its header declares " +
                               std::to_string(declared) + " bytes of audio but only " + std::to_string(present) +
                               " are there");
    }
    const int channels = info.channels;
    const int rate = targetRate > 0 ? targetRate : info.sampleRate;
    const int outChannels = targetChannels > 0 ? targetChannels : channels;
    const bool convert = rate != info.sampleRate || outChannels != channels;
    // A streamed FLAC or Ogg file may not say how long it is (SF_COUNT_MAX):
    // read blocks until the end, and hold a known length to account.
    const bool known = info.frames >= 0 && info.frames < (1LL << 40);
    const std::size_t block = 65536;
    auto cutShort = [&](std::size_t got) {
        return Fail(error, path + ": a damaged " + info.format + " file; it ends after " + std::to_string(got) +
                               " of " + std::to_string(info.frames) + " frames (" + sf_strerror(file.get()) + ")");
    };

    // 16-bit PCM kept as it is comes through unchanged, bit for bit.
    if (!convert && (format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16) {
        std::size_t frames = 0;
        for (;;) {
            pcm->resize((frames + block) * static_cast<std::size_t>(channels));
            const sf_count_t got = sf_readf_short(file.get(), pcm->data() + frames * channels, block);
            if (got <= 0) break;
            frames += static_cast<std::size_t>(got);
        }
        pcm->resize(frames * static_cast<std::size_t>(channels));
        if (known && frames < static_cast<std::size_t>(info.frames)) return cutShort(frames);
        return true;
    }

    std::vector<float> in;
    std::size_t frames = 0;
    for (;;) {
        in.resize((frames + block) * static_cast<std::size_t>(channels));
        const sf_count_t got = sf_readf_float(file.get(), in.data() + frames * channels, block);
        if (got <= 0) break;
        frames += static_cast<std::size_t>(got);
    }
    in.resize(frames * static_cast<std::size_t>(channels));
    if (known && frames < static_cast<std::size_t>(info.frames)) return cutShort(frames);
    if (convert) {
        std::fprintf(stderr, "converting %d Hz %s to %d Hz %s\n", info.sampleRate, ChannelName(channels).c_str(),
                     rate, ChannelName(outChannels).c_str());
    }
    // Channels first, at the lower count, so the resampler does less work.
    std::vector<float> mixed;
    if (outChannels != channels) {
        mixed.resize(frames * static_cast<std::size_t>(outChannels));
        for (std::size_t f = 0; f < frames; ++f) {
            const float* x = &in[f * static_cast<std::size_t>(channels)];
            float* y = &mixed[f * static_cast<std::size_t>(outChannels)];
            if (outChannels == 1) {
                float sum = 0;
                for (int c = 0; c < channels; ++c) sum += x[c];
                y[0] = sum / static_cast<float>(channels);
            } else {
                // Mono repeated on every channel; wider input keeps its first channels.
                for (int c = 0; c < outChannels; ++c) y[c] = x[channels == 1 ? 0 : std::min(c, channels - 1)];
            }
        }
        in.swap(mixed);
    }
    std::vector<float> out;
    if (rate != info.sampleRate && frames > 0) {
        const std::size_t outFrames = static_cast<std::size_t>(
            std::llround(static_cast<double>(frames) * rate / info.sampleRate));
        out.resize(outFrames * static_cast<std::size_t>(outChannels));
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        std::size_t used = 0, made = 0;
        const soxr_error_t e = soxr_oneshot(info.sampleRate, rate, static_cast<unsigned>(outChannels), in.data(),
                                            frames, &used, out.data(), outFrames, &made, &io, &quality, nullptr);
        if (e) return Fail(error, path + ": resampling failed (" + e + ")");
        out.resize(made * static_cast<std::size_t>(outChannels));
    } else {
        out.swap(in);
    }
    pcm->resize(out.size());
    FloatToPcm16(out.data(), pcm->data(), out.size());
    return true;
}

bool WriteWav(const std::string& path, const int16_t* pcm, std::size_t frames, int rate, int channels,
              std::string* error) {
    SF_INFO sf{};
    sf.samplerate = rate;
    sf.channels = channels;
    sf.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SndFile file(sf_open(path.c_str(), SFM_WRITE, &sf), sf_close);
    if (!file) return Fail(error, path + ": cannot create the WAV file (" + sf_strerror(nullptr) + ")");
    if (sf_writef_short(file.get(), pcm, static_cast<sf_count_t>(frames)) != static_cast<sf_count_t>(frames)) {
        return Fail(error, path + ": cannot write (" + sf_strerror(file.get()) + ")");
    }
    if (sf_close(file.release()) != 0) return Fail(error, path + ": cannot finish the WAV file");
    return true;
}

ProgressLine::ProgressLine(const char* verb, double totalSeconds)
    : verb_(verb), total_(totalSeconds), shown_(totalSeconds >= 5.0 && isatty(STDERR_FILENO) == 1) {}

ProgressLine::~ProgressLine() {
    if (active_) std::fputc('\n', stderr);
}

void ProgressLine::Update(double doneSeconds) {
    if (!shown_) return;
    const long long now = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count();
    if (now - lastMs_ < 250) return;
    lastMs_ = now;
    active_ = true;
    std::fprintf(stderr, "\r%s %7.1f / %.1f s (%3.0f%%)", verb_, doneSeconds, total_,
                 total_ > 0 ? 100.0 * std::min(doneSeconds, total_) / total_ : 100.0);
    std::fflush(stderr);
}

void ProgressLine::Finish(const std::string& summary) {
    if (active_) {
        std::fprintf(stderr, "\r%s %7.1f / %.1f s (100%%)\n", verb_, total_, total_);
        active_ = false;
    }
    std::printf("%s\n", summary.c_str());
    std::fflush(stdout);
}

}  // namespace aurivane
