#include "sbrinterop/sbr_harness.h"

#include "support/reference_fft.h"
#include "support/speech_measures.h"

#include "aurivane/aurivane.h"
#include "aacdec/aac_core_decoder.h"
#include "dsp/bit_buffer.h"
#include "aacdec/sbr_payload.h"
#include "wav_file.h"

#include "aacdec/sbr_decoder.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace aurivane::test {

namespace {

int16_t ToPcm(double v) {
    if (!(v == v)) return 0;
    v = std::clamp(v, -32768.0, 32767.0);
    return static_cast<int16_t>(v);  // toward zero, as the AacDecoder converts
}

bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Collects whatever the engine object delivers.
class Collector final : public AudioSink {
public:
    int32_t Process(const void* data, uint32_t byteCount) override {
        const auto* p = static_cast<const uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + byteCount);
        ++calls;
        return 1;
    }
    std::vector<uint8_t> bytes;
    int calls = 0;
};

}  // namespace

std::vector<int16_t> Decoded::Channel(int c) const {
    std::vector<int16_t> out;
    if (channels <= 0 || c >= channels) return out;
    out.reserve(Frames());
    for (std::size_t i = static_cast<std::size_t>(c); i < pcm.size(); i += static_cast<std::size_t>(channels)) {
        out.push_back(pcm[i]);
    }
    return out;
}

std::string WorkDir() {
    const std::string dir = AURIVANE_SBR_WORK_DIR;
    std::filesystem::create_directories(dir);
    return dir;
}

const std::vector<StreamCase>& GeneratedStreams() {
    static const std::vector<StreamCase> cases = [] {
        std::vector<StreamCase> v;
        // Both cores are coded at 16 kbit/s, which leaves about 4 kHz of audio
        // bandwidth: QMF band 12 at 44.1 kHz.
        constexpr int kCoreKx = 12;
        auto add = [&v](const char* name, bool stereo, StreamKind kind, uint32_t seed, auto tweak) {
            SbrGenOptions o;
            o.seed = seed;
            o.pair = stereo;
            tweak(o);
            v.push_back(StreamCase{name, stereo, kind, o});
        };
        add("mono_sbr", false, StreamKind::kHighQuality, 11, [](SbrGenOptions&) {});
        add("mono_sbr_static_crc", false, StreamKind::kHighQuality, 12, [](SbrGenOptions& o) {
            o.headerChanges = false;
            o.crc = true;
        });
        add("mono_ps", false, StreamKind::kHighQuality, 13, [](SbrGenOptions& o) { o.ps = true; });
        // With the crossover far above the core's bandwidth, patches copy
        // bands that hold only rounding noise and amplify it by up to 1e5 in
        // energy: two correct decoders then differ by their core decoders'
        // last bits (this stream measures 64.6 dB against itself with noise
        // below one 16-bit step added to the core). Here, as an encoder would,
        // the crossover stays within the core's bandwidth; mono_sbr keeps
        // random crossovers.
        add("mono_ps_34_crc", false, StreamKind::kHighQuality, 14, [](SbrGenOptions& o) {
            o.ps = true;
            o.psModeMask = (1 << 2) | (1 << 5);
            o.crc = true;
            o.maxKx = kCoreKx;
        });
        add("mono_ps_ipd_opd", false, StreamKind::kPhaseParams, 15, [](SbrGenOptions& o) {
            o.ps = true;
            o.psIpdOpd = true;
        });
        add("mono_fixfix8", false, StreamKind::kInvalidGrid, 16, [](SbrGenOptions& o) {
            o.invalidFixFix8Every = 9;
        });
        // The stereo core too (patches copied from above a core's bandwidth
        // hold only filter leakage, which the real-valued bank of the
        // low-power option passes and a complex one largely cancels).
        add("stereo_sbr", true, StreamKind::kHighQuality, 21, [](SbrGenOptions& o) { o.maxKx = kCoreKx; });
        add("stereo_coupled_crc", true, StreamKind::kHighQuality, 22, [](SbrGenOptions& o) {
            o.coupling = 1;
            o.crc = true;
            o.maxKx = kCoreKx;
        });
        add("stereo_independent", true, StreamKind::kHighQuality, 23, [](SbrGenOptions& o) {
            o.coupling = 0;
            o.maxKx = kCoreKx;
        });
        return v;
    }();
    return cases;
}

bool BuildStream(const StreamCase& item, AdtsStream* out, SbrGenStats* stats, std::string* error) {
    const std::string core =
        std::string(AURIVANE_TEST_DATA_DIR) + "/sbr/" + (item.stereo ? "core_stereo_22k.aac" : "core_mono_22k.aac");
    std::vector<uint8_t> file;
    if (!ReadFileBytes(core, &file)) {
        *error = "cannot read " + core;
        return false;
    }
    AdtsStream lc;
    if (!ReadAdtsBlocks(file, &lc, error)) return false;
    DropLargeBlocks(&lc, 200);
    SbrPayloadGenerator gen(item.options);
    *out = AddSbrPayloads(lc, gen);
    if (stats) *stats = gen.Stats();
    return true;
}

bool HaveProgram(const char* name) {
    return Run(std::string("command -v ") + name + " >/dev/null 2>&1");
}

Decoded DecodeWithFfmpeg(const std::string& adtsPath) {
    Decoded d;
    const std::string out = adtsPath + ".ffmpeg.f32";
    if (!Run("ffmpeg -nostdin -hide_banner -loglevel error -y -i " + Quote(adtsPath) + " -ac 2 -f f32le " +
             Quote(out))) {
        d.error = "ffmpeg failed on " + adtsPath;
        return d;
    }
    std::vector<uint8_t> raw;
    if (!ReadFileBytes(out, &raw)) {
        d.error = "no ffmpeg output";
        return d;
    }
    d.channels = 2;
    d.pcm.resize(raw.size() / 4);
    d.f32.resize(raw.size() / 4);
    for (std::size_t i = 0; i < d.pcm.size(); ++i) {
        float f;
        std::memcpy(&f, raw.data() + 4 * i, 4);
        d.f32[i] = f * 32768.0f;
        d.pcm[i] = ToPcm(static_cast<double>(f) * 32768.0);
    }
    d.ok = true;
    return d;
}

Decoded DecodeWithFaad(const std::string& adtsPath) {
    Decoded d;
    const std::string out = adtsPath + ".faad.wav";
    if (!Run("faad -q -o " + Quote(out) + " " + Quote(adtsPath) + " >/dev/null 2>&1")) {
        d.error = "faad failed on " + adtsPath;
        return d;
    }
    WavData wav;
    if (!ReadWav(out, &wav, &d.error)) return d;
    d.sampleRate = static_cast<int>(wav.sampleRate);
    d.channels = wav.channels;
    d.pcm = std::move(wav.samples);
    d.ok = true;
    return d;
}

Decoded DecodeWithOurs(const AdtsStream& stream, int sbrOptions) {
    Decoded d;
    struct State {
        BitBuffer bits;
        uint8_t storage[6144];
        SbrPayloadList payloads;
        float time[4096];
        AacCoreDecoder core;
    };
    auto s = std::make_unique<State>();
    std::memset(s.get(), 0, sizeof(State));
    BitBuffer* bits = BitBufferCreate(&s->bits, s->storage, 1536);
    AacCoreDecoder* core = AacCoreDecoderOpen(&s->core, bits, &s->payloads, s->time);
    if (core == nullptr || AacCoreDecoderConfigure(core, stream.sampleRate, 0) != 0) {
        d.error = "core decoder does not take " + std::to_string(stream.sampleRate) + " Hz";
        return d;
    }
    std::unique_ptr<SbrDecoder, void (*)(SbrDecoder*)> storage(SbrDecoderCreate(), SbrDecoderDestroy);
    SbrDecoder* sbr = nullptr;
    int outRate = 0;
    for (const auto& block : stream.blocks) {
        BitBufferAttach(bits, s->storage, 1536);
        for (uint8_t b : block) BitBufferWrite(bits, b, 8);
        s->payloads.count = 0;
        int n = 0, rate = 0, channels = 0, mode = 0;
        if (AacCoreDecodeFrame(core, &n, &rate, &channels, &mode, 1) != 0) {
            d.error = "core decoder rejected a frame";
            return d;
        }
        if (sbr == nullptr && s->payloads.count != 0) {
            sbr = SbrDecoderOpen(storage.get(), rate, n, sbrOptions, 0);
        }
        if (sbr != nullptr) {
            if (SbrDecoderApply(sbr, &s->payloads, s->time, &channels, 1, 0, 0) != 0) {
                sbr = nullptr;
            } else {
                n *= 2;
                rate *= 2;
            }
        }
        if (outRate == 0) outRate = rate;
        if (rate != outRate) {
            d.error = "output rate changed within the stream";
            return d;
        }
        const float* right = s->time + (channels == 2 ? n : 0);
        for (int i = 0; i < n; ++i) {
            d.f32.push_back(s->time[i]);
            d.f32.push_back(right[i]);
            d.pcm.push_back(ToPcm(s->time[i]));
            d.pcm.push_back(ToPcm(right[i]));
        }
    }
    d.sampleRate = outRate;
    d.channels = 2;
    d.ok = true;
    return d;
}

Decoded DecodeWithEngine(const std::vector<uint8_t>& packetStream) {
    Decoded d;
    auto* dec = static_cast<AacDecoderInterface*>(CreateObject(&kAacDecoderId));
    if (dec == nullptr) {
        d.error = "no AacDecoder in the catalogue";
        return d;
    }
    Collector sink;
    dec->AddSink(&sink);
    bool ok = dec->Open(0) == 1;
    // Whole records, at most 200 per call (the output area holds 215 SBR frames).
    std::size_t pos = 0, frames = 0;
    while (ok && pos < packetStream.size()) {
        std::size_t end = pos;
        int records = 0;
        while (end < packetStream.size() && records < 200) {
            end += 1 + packetStream[end];
            ++records;
        }
        end = std::min(end, packetStream.size());
        ok = dec->Process(packetStream.data() + pos, static_cast<uint32_t>(end - pos)) == 1;
        frames += static_cast<std::size_t>(records);
        pos = end;
    }
    DestroyObject(&kAacDecoderId, dec);
    if (!ok) {
        d.error = "AacDecoder process failed";
        return d;
    }
    d.pcm.resize(sink.bytes.size() / 2);
    for (std::size_t i = 0; i < d.pcm.size(); ++i) {
        d.pcm[i] = static_cast<int16_t>(sink.bytes[2 * i] | (sink.bytes[2 * i + 1] << 8));
    }
    d.channels = 2;
    d.sampleRate = frames && d.Frames() == 2048 * frames ? 44100 : 22050;
    d.ok = true;
    return d;
}

int FindLag(const std::vector<int16_t>& ref, const std::vector<int16_t>& test, int maxLag) {
    // Channel 0 of interleaved stereo; a window from the middle keeps the
    // search cheap.
    const long n = static_cast<long>(std::min(ref.size(), test.size()) / 2);
    const long start = std::max<long>(maxLag, n / 3);
    const long len = std::min<long>(8192, n - start - maxLag);
    if (len <= 0) return 0;
    int best = 0;
    double bestErr = -1;
    for (int lag = -maxLag; lag <= maxLag; ++lag) {
        double err = 0;
        for (long i = start; i < start + len; ++i) {
            const double e = static_cast<double>(test[2 * (i + lag)]) - ref[2 * i];
            err += e * e;
        }
        if (bestErr < 0 || err < bestErr) {
            bestErr = err;
            best = lag;
        }
    }
    return best;
}

double StereoSnrDb(const std::vector<int16_t>& ref, const std::vector<int16_t>& test, int lag, std::size_t skip) {
    const Aligned a = AlignByLag(ref, test, 2 * lag);
    const std::size_t from = std::min(2 * skip, a.ref.size());
    return SnrDb(a.ref.subspan(from), a.test.subspan(from));
}

double RmsDbfs(const std::vector<int16_t>& x) {
    double s = 0;
    for (int16_t v : x) s += static_cast<double>(v) * v;
    if (x.empty() || s == 0) return -200;
    return 10 * std::log10(s / static_cast<double>(x.size()) / (32768.0 * 32768.0));
}

std::vector<double> BandLevelsDb(const std::vector<int16_t>& x, int rate, double bandHz, int lag) {
    constexpr std::size_t kN = 2048;
    std::vector<double> power(kN / 2, 0.0);
    std::vector<std::complex<double>> buf(kN);
    int frames = 0;
    const long channels = 2;
    const long total = static_cast<long>(x.size()) / channels;
    for (long start = std::max(0L, static_cast<long>(lag)); start + static_cast<long>(kN) <= total;
         start += kN / 2) {
        for (std::size_t i = 0; i < kN; ++i) {
            const double w = 0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(i) / kN);
            buf[i] = w * x[static_cast<std::size_t>((start + static_cast<long>(i)) * channels)];
        }
        ReferenceFft(buf);
        for (std::size_t k = 0; k < kN / 2; ++k) power[k] += std::norm(buf[k]);
        ++frames;
    }
    const double binHz = static_cast<double>(rate) / kN;
    const int bands = static_cast<int>(rate / 2 / bandHz);
    std::vector<double> out(static_cast<std::size_t>(bands), -300.0);
    for (int b = 0; b < bands; ++b) {
        double p = 0;
        for (std::size_t k = 0; k < kN / 2; ++k) {
            const double f = static_cast<double>(k) * binHz;
            if (f >= b * bandHz && f < (b + 1) * bandHz) p += power[k];
        }
        if (frames > 0 && p > 0) out[static_cast<std::size_t>(b)] = 10 * std::log10(p / frames);
    }
    return out;
}

BandComparison CompareBands(const std::vector<int16_t>& ref, const std::vector<int16_t>& test, int rate, int lag,
                            double fromHz, double toHz, double bandHz) {
    const std::vector<double> a = BandLevelsDb(ref, rate, bandHz, 0);
    const std::vector<double> b = BandLevelsDb(test, rate, bandHz, lag);
    BandComparison c;
    double loudest = -300;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (i * bandHz >= fromHz && (i + 1) * bandHz <= toHz) loudest = std::max(loudest, a[i]);
    }
    double sum = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (i * bandHz < fromHz || (i + 1) * bandHz > toHz || a[i] < loudest - 60) continue;
        const double diff = std::fabs(a[i] - b[i]);
        c.maxAbsDb = std::max(c.maxAbsDb, diff);
        sum += diff;
        ++c.bands;
    }
    if (c.bands) c.meanAbsDb = sum / c.bands;
    return c;
}

std::vector<double> BlockHighBandDb(const std::vector<int16_t>& x, int channel, int rate, double fromHz, int lag) {
    constexpr std::size_t kN = 1024;
    std::vector<double> out;
    std::vector<std::complex<double>> buf(kN);
    const long total = static_cast<long>(x.size()) / 2;
    const std::size_t firstBin = static_cast<std::size_t>(std::ceil(fromHz * kN / rate));
    for (long start = lag; start + static_cast<long>(kN) <= total; start += kN) {
        if (start < 0) {
            out.push_back(std::nan(""));  // before the signal: not compared
            continue;
        }
        for (std::size_t i = 0; i < kN; ++i) {
            const double w = 0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(i) / kN);
            buf[i] = w * x[static_cast<std::size_t>((start + static_cast<long>(i)) * 2 + channel)];
        }
        ReferenceFft(buf);
        double p = 0;
        for (std::size_t k = firstBin; k < kN / 2; ++k) p += std::norm(buf[k]);
        // Full scale sine in one bin of a Hann window: (32768 * N / 4)^2.
        const double full = std::pow(32768.0 * kN / 4, 2);
        out.push_back(p > 0 ? 10 * std::log10(p / full) : -300.0);
    }
    return out;
}

namespace {

LevelSpread SpreadOf(std::vector<double> d) {
    LevelSpread s;
    if (d.empty()) return s;
    for (double v : d) s.mean += v;
    s.mean /= static_cast<double>(d.size());
    std::sort(d.begin(), d.end());
    s.median = d[d.size() / 2];
    s.p90 = d[(d.size() * 9) / 10];
    return s;
}

}  // namespace

BlockAgreement CompareBlockLevels(const Decoded& ref, const Decoded& ours, int lag, const Decoded* peer, int peerLag,
                                  int rate, double fromHz, double marginDb) {
    BlockAgreement a;
    for (int c = 0; c < 2; ++c) {
        const std::vector<double> r = BlockHighBandDb(ref.pcm, c, rate, fromHz);
        const std::vector<double> o = BlockHighBandDb(ours.pcm, c, rate, fromHz, lag);
        const std::vector<double> p =
            peer ? BlockHighBandDb(peer->pcm, c, rate, fromHz, peerLag) : std::vector<double>();
        double loudest = -300;
        for (double v : r) loudest = std::max(loudest, v);
        std::vector<double> dOurs, dPeer;
        for (std::size_t i = 2; i < r.size() && i < o.size(); ++i) {
            if (std::isnan(o[i]) || r[i] < loudest - 50 || r[i] < -100) continue;
            double spread = 0;
            if (i < p.size() && !std::isnan(p[i])) {
                spread = std::fabs(p[i] - r[i]);
                dPeer.push_back(p[i] - r[i]);
            }
            const double excess = std::fabs(o[i] - r[i]) - spread - marginDb;
            dOurs.push_back(o[i] - r[i]);
            ++a.blocks;
            if (excess > 0) ++a.outside;
            if (excess > a.worstDb) {
                a.worstDb = excess;
                a.worstBlock = static_cast<int>(i);
                a.worstChannel = c;
            }
        }
        a.ours[c] = SpreadOf(dOurs);
        a.peer[c] = SpreadOf(dPeer);
    }
    return a;
}

}  // namespace aurivane::test
