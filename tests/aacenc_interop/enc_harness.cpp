#include "enc_harness.h"

#include "support/reference_fft.h"
#include "wav_file.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

namespace aurivane::enctest {

namespace {

std::string WorkDir() {
    const std::string dir = AURIVANE_ENC_WORK_DIR;
    std::filesystem::create_directories(dir);
    return dir;
}

// Deterministic noise: a 32-bit LCG, uniform in [-1, 1).
class Noise {
public:
    explicit Noise(uint32_t seed) : state_(seed) {}
    double White() {
        state_ = state_ * 1664525u + 1013904223u;
        return static_cast<double>(state_ >> 8) / 8388608.0 - 1.0;
    }
    // Pink by the economy three-pole filter (Kellet), about -3 dB/octave.
    double Pink() {
        const double w = White();
        b0_ = 0.99765 * b0_ + w * 0.0990460;
        b1_ = 0.96300 * b1_ + w * 0.2965164;
        b2_ = 0.57000 * b2_ + w * 1.0526913;
        return (b0_ + b1_ + b2_ + w * 0.1848) * 0.25;
    }

private:
    uint32_t state_;
    double b0_ = 0, b1_ = 0, b2_ = 0;
};

int16_t Clip(double v) { return static_cast<int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0))); }

bool Sox(const std::string& args, std::string* error) {
    std::string err;
    if (RunCommand("sox -R " + args, &err) != 0) {
        *error = "sox " + args + ": " + err;
        return false;
    }
    return true;
}

bool LoadMono(const std::string& path, std::vector<double>* out, std::string* error) {
    WavData wav;
    if (!ReadWav(path, &wav, error)) return false;
    out->assign(wav.samples.begin(), wav.samples.end());
    return true;
}

// Layers of the music items at `rate`, `n` samples each: a pluck melody, a
// sawtooth pad with slow tremolo and a square bass, all made by sox.
bool MusicLayers(int rate, std::size_t n, std::vector<double>* melody, std::vector<double>* pad,
                 std::vector<double>* bass, std::string* error) {
    const std::string dir = WorkDir() + "/layers_" + std::to_string(rate) + "_" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    const std::string r = " -r " + std::to_string(rate) + " ";
    std::string notes;
    for (const char* note : {"C4", "E4", "G4", "C5", "B4", "G4", "D5", "B4", "A4", "C5", "E5", "A4", "F4", "A4",
                             "C5", "G4"}) {
        notes += std::string(notes.empty() ? "" : " : ") + "synth 0.25 pluck " + note;
    }
    std::string bassNotes;
    for (const char* note : {"A1", "A1", "E2", "E2", "F1", "F1", "G1", "G1"}) {
        bassNotes += std::string(bassNotes.empty() ? "" : " : ") + "synth 0.5 square " + note;
    }
    const bool ok = Sox("-n" + r + "-c 1 " + Quote(dir + "/mel.wav") + " " + notes, error) &&
                    Sox("-n" + r + "-c 3 " + Quote(dir + "/pad3.wav") +
                            " synth 4 sawtooth 220 sawtooth 277.18 sawtooth 329.63", error) &&
                    Sox(Quote(dir + "/pad3.wav") + " " + Quote(dir + "/pad.wav") +
                            " remix 1-3 lowpass 2500 tremolo 0.5 40", error) &&
                    Sox("-n" + r + "-c 1 " + Quote(dir + "/bass.wav") + " " + bassNotes + " lowpass 400", error) &&
                    LoadMono(dir + "/mel.wav", melody, error) && LoadMono(dir + "/pad.wav", pad, error) &&
                    LoadMono(dir + "/bass.wav", bass, error);
    std::filesystem::remove_all(dir);
    if (!ok) return false;
    for (auto* layer : {melody, pad, bass}) {
        if (layer->empty()) {
            *error = "sox made an empty layer";
            return false;
        }
        std::vector<double> looped(n);
        for (std::size_t i = 0; i < n; ++i) looped[i] = (*layer)[i % layer->size()];
        layer->swap(looped);
    }
    return true;
}

bool Speech(int rate, std::size_t n, std::vector<double>* out, std::string* error) {
    const std::string raw = WorkDir() + "/speech_raw_" + std::to_string(getpid()) + ".wav";
    const std::string wav = WorkDir() + "/speech_" + std::to_string(rate) + "_" + std::to_string(getpid()) + ".wav";
    std::string err;
    if (RunCommand("espeak-ng -s 150 -w " + Quote(raw) +
                       " 'Please call Stella. Ask her to bring these things with her from the store: six spoons of "
                       "fresh snow peas, five thick slabs of blue cheese, and maybe a snack for her brother Bob.'",
                   &err) != 0) {
        *error = "espeak-ng: " + err;
        return false;
    }
    const bool ok = Sox(Quote(raw) + " -r " + std::to_string(rate) + " " + Quote(wav), error) && LoadMono(wav, out, error);
    std::filesystem::remove(raw);
    std::filesystem::remove(wav);
    if (!ok || out->empty()) return false;
    std::vector<double> looped(n);
    for (std::size_t i = 0; i < n; ++i) looped[i] = (*out)[i % out->size()];
    out->swap(looped);
    return true;
}

// Interleaved item samples (doubles at the 16-bit scale) of `channels`.
bool Generate(const std::string& kind, int rate, int channels, std::size_t n, std::vector<double>* left,
              std::vector<double>* right, std::string* error) {
    left->assign(n, 0.0);
    right->clear();
    Noise noise(0x2545F491u);
    const double fs = rate;
    if (kind == "speech" || kind == "panned") {
        if (!Speech(rate, n, left, error)) return false;
        if (kind == "panned") {
            // Off centre: 0.9 left, 0.35 right; the room tail is added by sox below.
            right->resize(n);
            for (std::size_t i = 0; i < n; ++i) {
                (*right)[i] = 0.35 * (*left)[i];
                (*left)[i] *= 0.9;
            }
        }
    } else if (kind == "music" || kind == "wide" || kind == "left_only" || kind == "opposite") {
        std::vector<double> mel, pad, bass;
        if (!MusicLayers(rate, n, &mel, &pad, &bass, error)) return false;
        if (kind == "wide") {
            // Melody hard left, pad hard right, a glide panned from left to right.
            right->resize(n);
            double phase = 0;
            for (std::size_t i = 0; i < n; ++i) {
                const double t = double(i) / double(n);
                phase += 2 * M_PI * (300.0 * std::pow(8.0, t)) / fs;
                const double glide = 3000.0 * std::sin(phase);
                (*left)[i] = 0.6 * mel[i] + glide * std::cos(t * M_PI / 2);
                (*right)[i] = 0.5 * pad[i] + glide * std::sin(t * M_PI / 2);
            }
        } else {
            for (std::size_t i = 0; i < n; ++i) (*left)[i] = 0.5 * mel[i] + 0.25 * pad[i] + 0.4 * bass[i];
            if (kind == "music" && channels == 2) {
                right->resize(n);
                for (std::size_t i = 0; i < n; ++i) {
                    (*right)[i] = 0.25 * mel[i] + 0.3 * pad[i] + 0.4 * bass[i];
                    (*left)[i] = 0.6 * mel[i] + 0.2 * pad[i] + 0.4 * bass[i];
                }
            } else if (kind == "left_only") {
                right->assign(n, 0.0);
            } else if (kind == "opposite") {
                right->resize(n);
                for (std::size_t i = 0; i < n; ++i) (*right)[i] = -(*left)[i];
            }
        }
    } else if (kind == "pink" || kind == "uncorrelated") {
        for (auto& v : *left) v = 6000.0 * noise.Pink();
        if (kind == "uncorrelated") {
            Noise other(0x9E3779B9u);
            right->resize(n);
            for (auto& v : *right) v = 6000.0 * other.Pink();
        }
    } else if (kind == "white") {
        for (auto& v : *left) v = 6000.0 * noise.White();
    } else if (kind == "clicks") {
        // Castanet-like: a decaying noise burst with a 2.5 kHz ring every 0.3 s.
        const std::size_t period = static_cast<std::size_t>(0.3 * fs);
        for (std::size_t i = 0; i < n; ++i) {
            const double t = double(i % period) / fs;
            const double env = std::exp(-t / 0.004);
            (*left)[i] = 20000.0 * env * (0.6 * noise.White() + 0.4 * std::sin(2 * M_PI * 2500.0 * t));
        }
    } else if (kind == "sweep") {
        // Exponential sine sweep, 50 Hz to 0.45 of the rate.
        const double f0 = 50.0, f1 = 0.45 * fs, T = double(n) / fs;
        for (std::size_t i = 0; i < n; ++i) {
            const double t = double(i) / fs;
            const double k = std::log(f1 / f0) / T;
            (*left)[i] = 16000.0 * std::sin(2 * M_PI * f0 * (std::exp(k * t) - 1.0) / k);
        }
    } else if (kind == "tone") {
        for (std::size_t i = 0; i < n; ++i) (*left)[i] = 16000.0 * std::sin(2 * M_PI * 1000.0 * double(i) / fs);
    } else if (kind == "silence") {
    } else if (kind == "lsb") {
        for (auto& v : *left) v = std::round(noise.White() * 1.49);
    } else if (kind == "square") {
        for (std::size_t i = 0; i < n; ++i) (*left)[i] = std::fmod(double(i) * 440.0 / fs, 1.0) < 0.5 ? 32767 : -32768;
    } else if (kind == "dc") {
        for (auto& v : *left) v = 12000.0;
    } else if (kind == "nyquist") {
        for (std::size_t i = 0; i < n; ++i) (*left)[i] = (i & 1) ? -32767.0 : 32767.0;
    } else {
        *error = "unknown item kind " + kind;
        return false;
    }
    if (channels == 2 && right->empty()) *right = *left;
    return true;
}

}  // namespace

std::string Quote(const std::string& s) {
    std::string r = "'";
    for (char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return r + "'";
}

int RunCommand(const std::string& command, std::string* standardError, std::string* output) {
    const std::string errPath = WorkDir() + "/stderr_" + std::to_string(getpid()) + ".txt";
    std::string full = "(" + command + ") 2>" + Quote(errPath);
    if (output == nullptr) full += " >/dev/null";
    FILE* p = popen(full.c_str(), "r");
    if (p == nullptr) return -1;
    char buf[4096];
    std::size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, p)) > 0) {
        if (output != nullptr) output->append(buf, got);
    }
    const int status = pclose(p);
    std::ifstream f(errPath);
    std::string err((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::filesystem::remove(errPath);
    if (standardError != nullptr) *standardError = err;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string WorkFile(const std::string& name) { return WorkDir() + "/" + name; }

bool HaveTools() {
    return RunCommand("command -v sox && command -v espeak-ng", nullptr) == 0;
}

std::string MakeItem(const std::string& kind, int rate, int channels, double seconds, std::string* error) {
    char name[128];
    std::snprintf(name, sizeof name, "/%s_%d_%dch_%gs.wav", kind.c_str(), rate, channels, seconds);
    const std::string path = WorkDir() + name;
    if (std::filesystem::exists(path)) return path;
    const std::size_t n = static_cast<std::size_t>(seconds * rate);
    std::vector<double> left, right;
    if (!Generate(kind, rate, channels, n, &left, &right, error)) return "";
    WavData wav;
    wav.sampleRate = static_cast<uint32_t>(rate);
    wav.channels = static_cast<uint16_t>(channels);
    wav.samples.resize(n * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < n; ++i) {
        wav.samples[i * channels] = Clip(left[i]);
        if (channels == 2) wav.samples[i * 2 + 1] = Clip(right[i]);
    }
    // Written under a private name and renamed, so parallel test processes
    // never read a half-written item.
    const std::string tmp = path + "." + std::to_string(getpid());
    if (!WriteWav(tmp, wav, error)) return "";
    if (kind == "panned") {
        const std::string dry = tmp + ".dry.wav";
        std::filesystem::rename(tmp, dry);
        const bool ok = Sox(Quote(dry) + " -t wav " + Quote(tmp) + " reverb 40 50 70 trim 0 " + std::to_string(seconds),
                            error);
        std::filesystem::remove(dry);
        if (!ok) return "";
    }
    std::filesystem::rename(tmp, path);
    return path;
}

bool RunCli(const std::string& arguments, std::string* output, std::string* error) {
    std::string err;
    const int rc = RunCommand(std::string(AURIVANE_CLI) + " " + arguments, &err, output);
    if (rc != 0) *error = "aurivane " + arguments + " exited " + std::to_string(rc) + ": " + err;
    return rc == 0;
}

bool FfmpegEncodeAac(const std::string& wav, const std::string& adts, int bitrate, std::string* error) {
    std::string err;
    if (RunCommand("ffmpeg -nostdin -hide_banner -loglevel error -y -i " + Quote(wav) + " -c:a aac -b:a " +
                       std::to_string(bitrate) + " -f adts " + Quote(adts),
                   &err) != 0) {
        *error = "ffmpeg aac encoder: " + err;
        return false;
    }
    return true;
}

bool FfmpegDecodeQuiet(const std::string& path, int channels, aactest::PeerPcm* out, std::string* error) {
    const std::string raw = path + ".f32";
    std::string err;
    const int rc = RunCommand("ffmpeg -nostdin -hide_banner -loglevel error -err_detect explode -y -i " + Quote(path) +
                                  " -f f32le " + Quote(raw),
                              &err);
    if (rc != 0 || !err.empty()) {
        *error = "ffmpeg: exit " + std::to_string(rc) + ": " + err;
        return false;
    }
    std::vector<uint8_t> bytes;
    aactest::ReadBytes(raw, &bytes);
    std::filesystem::remove(raw);
    out->channels = channels;
    out->samples.resize(bytes.size() / 4);
    for (std::size_t i = 0; i < out->samples.size(); ++i) {
        float v;
        std::memcpy(&v, &bytes[4 * i], 4);
        out->samples[i] = v * 32768.0f;
    }
    return true;
}

bool FaadDecodeQuiet(const std::string& path, WavData* out, std::string* error) {
    const std::string wav = path + ".faad.wav";
    std::string err;
    const int rc = RunCommand("faad -q -o " + Quote(wav) + " " + Quote(path), &err);
    if (rc != 0 || !err.empty()) {
        *error = "faad: exit " + std::to_string(rc) + ": " + err;
        return false;
    }
    const bool ok = ReadWav(wav, out, error);
    std::filesystem::remove(wav);
    return ok;
}

bool FfprobeStream(const std::string& path, Probe* out, std::string* error) {
    std::string text, err;
    if (RunCommand("ffprobe -v error -select_streams a:0 -show_entries stream=profile,sample_rate,channels -of "
                   "default=noprint_wrappers=1 " + Quote(path),
                   &err, &text) != 0) {
        *error = "ffprobe: " + err;
        return false;
    }
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos) {
            const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
            if (key == "profile") out->profile = value;
            if (key == "sample_rate") out->sampleRate = std::atoi(value.c_str());
            if (key == "channels") out->channels = std::atoi(value.c_str());
        }
        at = end + 1;
    }
    return true;
}

std::vector<std::size_t> AdtsPayloadSizes(const std::string& adts, int* sampleRate) {
    static const int kRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};
    std::ifstream f(adts, std::ios::binary);
    std::vector<uint8_t> s((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::vector<std::size_t> sizes;
    for (std::size_t at = 0; at + 7 <= s.size();) {
        if (s[at] != 0xFF || (s[at + 1] & 0xF6) != 0xF0) break;
        const std::size_t header = (s[at + 1] & 1) ? 7 : 9;
        const std::size_t length = ((s[at + 3] & 3u) << 11) | (s[at + 4] << 3) | (s[at + 5] >> 5);
        if (length < header || at + length > s.size()) break;
        if (sampleRate != nullptr) *sampleRate = kRates[std::min((s[at + 2] >> 2) & 15, 12)];
        sizes.push_back(length - header);
        at += length;
    }
    return sizes;
}

long CheckReservoir(const std::vector<std::size_t>& sizes, int bitrate, int coreRate, std::size_t ceiling,
                    std::string* error) {
    const double mean = double(bitrate) * 1024.0 / coreRate;
    const double reservoir = double((6144 - bitrate * 1024L / coreRate) / 8 * 8);
    const double lowest = std::min(mean, 8.0 * double(ceiling));
    double spent = 0, excess = 0;
    for (std::size_t n = 0; n < sizes.size(); ++n) {
        spent += 8.0 * double(sizes[n]);
        excess = std::max(excess, spent - mean * double(n + 1));
        if (spent > mean * double(n + 1) + reservoir + 8 || spent < lowest * double(n + 1) - 8) {
            char text[160];
            std::snprintf(text, sizeof text, "after frame %zu: %.0f bits spent, %.0f mean, reservoir %.0f", n, spent,
                          mean * double(n + 1), reservoir);
            *error = text;
            return -1;
        }
    }
    return std::lround(excess);
}

std::vector<int16_t> Channel(const std::vector<int16_t>& pcm, int channels, int c) {
    std::vector<int16_t> out;
    out.reserve(pcm.size() / static_cast<std::size_t>(channels));
    for (std::size_t i = static_cast<std::size_t>(c); i < pcm.size(); i += static_cast<std::size_t>(channels)) {
        out.push_back(pcm[i]);
    }
    return out;
}

void Align(std::vector<int16_t>* ref, std::vector<int16_t>* test, int lag) {
    if (lag > 0) {
        test->erase(test->begin(), test->begin() + std::min<std::size_t>(test->size(), std::size_t(lag)));
    } else if (lag < 0) {
        ref->erase(ref->begin(), ref->begin() + std::min<std::size_t>(ref->size(), std::size_t(-lag)));
    }
    const std::size_t n = std::min(ref->size(), test->size());
    ref->resize(n);
    test->resize(n);
}

namespace {

constexpr std::size_t kFftSize = 4096;

// Mean power per FFT bin (Hann window, hop half the size).
std::vector<double> LongTermPower(const std::vector<int16_t>& x) {
    std::vector<double> power(kFftSize / 2, 0.0);
    std::vector<std::complex<double>> buf(kFftSize);
    int frames = 0;
    for (std::size_t start = 0; start + kFftSize <= x.size(); start += kFftSize / 2, ++frames) {
        for (std::size_t i = 0; i < kFftSize; ++i) {
            buf[i] = (0.5 - 0.5 * std::cos(2 * M_PI * double(i) / kFftSize)) * x[start + i];
        }
        test::ReferenceFft(buf);
        for (std::size_t k = 0; k < kFftSize / 2; ++k) power[k] += std::norm(buf[k]);
    }
    for (auto& p : power) p = frames ? p / frames : 0.0;
    return power;
}

double BandDb(const std::vector<double>& power, int rate, double lowHz, double highHz) {
    double p = 1e-3;  // floor: digital silence reads as about -150 dB
    for (std::size_t k = 0; k < power.size(); ++k) {
        const double f = double(k) * rate / kFftSize;
        if (f >= lowHz && f < highHz) p += power[k];
    }
    return 10 * std::log10(p);
}

}  // namespace

double BandwidthHz(const std::vector<int16_t>& mono, int rate) {
    const std::vector<double> power = LongTermPower(mono);
    const double band = rate / 64.0;
    std::vector<double> levels;
    for (int b = 0; b < 32; ++b) levels.push_back(BandDb(power, rate, b * band, (b + 1) * band));
    const double peak = *std::max_element(levels.begin(), levels.end());
    for (int b = 31; b >= 0; --b) {
        if (levels[static_cast<std::size_t>(b)] >= peak - 40.0) return (b + 1) * band;
    }
    return 0.0;
}

std::vector<double> ThirdOctaveLevelsDb(const std::vector<int16_t>& mono, int rate) {
    const std::vector<double> power = LongTermPower(mono);
    std::vector<double> out;
    for (int k = -10; k <= 12; ++k) {
        const double centre = 1000.0 * std::pow(2.0, k / 3.0);
        const double high = centre * std::pow(2.0, 1.0 / 6);
        if (high >= rate / 2.0) break;
        out.push_back(BandDb(power, rate, centre / std::pow(2.0, 1.0 / 6), high));
    }
    return out;
}

double IldErrorDb(const std::vector<int16_t>& refL, const std::vector<int16_t>& refR,
                  const std::vector<int16_t>& testL, const std::vector<int16_t>& testR, int rate, int lag) {
    std::vector<int16_t> rl = refL, rr = refR, tl = testL, tr = testR;
    Align(&rl, &tl, lag);
    Align(&rr, &tr, lag);
    const auto a = ThirdOctaveLevelsDb(rl, rate), b = ThirdOctaveLevelsDb(rr, rate);
    const auto c = ThirdOctaveLevelsDb(tl, rate), d = ThirdOctaveLevelsDb(tr, rate);
    double loudest = -300;
    for (std::size_t i = 0; i < a.size(); ++i) loudest = std::max({loudest, a[i], b[i]});
    double sum = 0;
    int bands = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::max(a[i], b[i]) < loudest - 40.0) continue;
        const double ref = std::clamp(a[i] - b[i], -25.0, 25.0);
        const double got = std::clamp(c[i] - d[i], -25.0, 25.0);
        sum += std::fabs(got - ref);
        ++bands;
    }
    return bands ? sum / bands : 0.0;
}

namespace {
std::mutex gTablesMutex;
std::vector<std::pair<std::string, std::string>> gHeaders;  // in order of first use
std::map<std::string, std::vector<std::string>> gRows;
}  // namespace

void AddTableRow(const std::string& table, const std::string& header, const std::string& row) {
    std::lock_guard<std::mutex> lock(gTablesMutex);
    if (gRows.find(table) == gRows.end()) gHeaders.emplace_back(table, header);
    gRows[table].push_back(row);
}

void PrintTables() {
    std::lock_guard<std::mutex> lock(gTablesMutex);
    for (const auto& [table, header] : gHeaders) {
        std::printf("\n%s\n%s\n", table.c_str(), header.c_str());
        for (const std::string& row : gRows[table]) std::printf("%s\n", row.c_str());
    }
    gHeaders.clear();
    gRows.clear();
}

}  // namespace aurivane::enctest
