#include "aac_peers.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

namespace aurivane::aactest {

namespace {

std::string Quote(const std::string& s) {
    std::string r = "'";
    for (char c : s) {
        if (c == '\'') {
            r += "'\\''";
        } else {
            r += c;
        }
    }
    return r + "'";
}

bool Run(const std::string& command, std::string* error) {
    const int rc = std::system(command.c_str());
    if (rc != 0) {
        if (error) *error = "command failed (" + std::to_string(rc) + "): " + command;
        return false;
    }
    return true;
}

bool ReadRaw(const std::string& path, bool float32, PeerPcm* out, std::string* error) {
    std::vector<uint8_t> bytes;
    if (!ReadBytes(path, &bytes)) {
        if (error) *error = "no output " + path;
        return false;
    }
    out->samples.clear();
    if (float32) {
        out->samples.resize(bytes.size() / 4);
        for (std::size_t i = 0; i < out->samples.size(); ++i) {
            float v;
            std::memcpy(&v, &bytes[4 * i], 4);
            out->samples[i] = v * 32768.0f;
        }
    } else {
        out->samples.resize(bytes.size() / 2);
        for (std::size_t i = 0; i < out->samples.size(); ++i) {
            out->samples[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        }
    }
    std::remove(path.c_str());
    return true;
}

struct SnrRow {
    std::string item, against;
    double snr, maxDiff;
    std::size_t frames;
};
std::mutex gRowsMutex;
std::vector<SnrRow> gRows;

}  // namespace

std::string SharedDir() { return AURIVANE_SHARED_DIR; }
std::string DataDir() { return std::string(AURIVANE_TEST_DATA_DIR) + "/aacdec"; }
std::string WorkPath(const std::string& name) { return std::string(AURIVANE_AAC_WORK_DIR) + "/" + name; }

bool ReadBytes(const std::string& path, std::vector<uint8_t>* out) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    out->assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return true;
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f);
}

bool FileExists(const std::string& path) { return std::ifstream(path).good(); }

bool HaveProgram(const char* name) {
    return std::system(("command -v " + std::string(name) + " >/dev/null 2>&1").c_str()) == 0;
}

bool FfmpegDecode(const std::string& path, int channels, bool float32, PeerPcm* out, std::string* error) {
    const std::string raw = path + (float32 ? ".ffmpeg.f32" : ".ffmpeg.s16");
    const std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -err_detect explode -i " + Quote(path) +
                            " -f " + (float32 ? "f32le" : "s16le") + " -y " + Quote(raw);
    if (!Run(cmd, error)) return false;
    out->channels = channels;
    return ReadRaw(raw, float32, out, error);
}

bool FaadDecode(const std::string& path, int channels, int frames, PeerPcm* out, std::string* error) {
    const std::string raw = path + ".faad.f32";
    if (!Run("faad -q -f 2 -b 4 -o " + Quote(raw) + " " + Quote(path) + " >/dev/null 2>&1", error)) return false;
    PeerPcm all;
    if (!ReadRaw(raw, true, &all, error)) return false;
    const std::size_t frameSamples = 1024 * static_cast<std::size_t>(frames > 1 ? frames - 1 : 0);
    int written = 0;
    for (int c = 1; c <= 2; ++c) {
        if (frameSamples > 0 && all.samples.size() == frameSamples * static_cast<std::size_t>(c)) written = c;
    }
    if (written == 0 || written < channels) {
        if (error) *error = "faad wrote " + std::to_string(all.samples.size()) + " samples for " + std::to_string(frames) +
                            " frames (upsampled?)";
        return false;
    }
    out->channels = channels;
    out->skippedFrames = 1;
    out->samples.clear();
    for (std::size_t i = 0; i < all.samples.size(); i += static_cast<std::size_t>(written)) {
        for (int c = 0; c < channels; ++c) out->samples.push_back(all.samples[i + static_cast<std::size_t>(c)]);
    }
    return true;
}

bool FfmpegRemuxToAdts(const std::string& mp4, const std::string& adts, std::string* error) {
    return Run("ffmpeg -nostdin -hide_banner -loglevel error -i " + Quote(mp4) + " -c copy -f adts -y " + Quote(adts),
               error);
}

double MaxAbsDiff(const float* ref, const float* test, std::size_t n) {
    double m = 0.0;
    for (std::size_t i = 0; i < n; ++i) m = std::fmax(m, std::fabs(double(ref[i]) - test[i]));
    return m;
}

double Energy(const float* x, std::size_t n) {
    double e = 0.0;
    for (std::size_t i = 0; i < n; ++i) e += double(x[i]) * x[i];
    return n ? e / double(n) : 0.0;
}

void RecordSnr(const std::string& item, const std::string& against, double snrDb, double maxDiff, std::size_t frames) {
    std::lock_guard<std::mutex> lock(gRowsMutex);
    gRows.push_back({item, against, snrDb, maxDiff, frames});
}

void PrintSnrTable() {
    std::lock_guard<std::mutex> lock(gRowsMutex);
    if (gRows.empty()) return;
    std::printf("\n%-48s %-16s %8s %10s %7s\n", "item", "against", "SNR dB", "max diff", "frames");
    for (const SnrRow& r : gRows) {
        if (std::isnan(r.snr)) {
            std::printf("%-48s %-16s %8s %10.4g %7zu\n", r.item.c_str(), r.against.c_str(), "-", r.maxDiff, r.frames);
        } else {
            std::printf("%-48s %-16s %8.1f %10.4g %7zu\n", r.item.c_str(), r.against.c_str(), r.snr, r.maxDiff,
                        r.frames);
        }
    }
    gRows.clear();
}

}  // namespace aurivane::aactest
