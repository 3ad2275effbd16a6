// A host project built against an installed Aurivane: G.729 encoder and
// decoder and an AacDecoder made through CreateObject, a second of a
// speech-like signal coded through the G.729 pair, an ADTS stream's raw data
// blocks through the AacDecoder, every object destroyed. Exit 0 when what
// comes out sounds like what went in.
#include <aurivane/aurivane.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

class Collect final : public aurivane::AudioSink {
public:
    int32_t Process(const void* data, uint32_t bytes) override {
        const auto* p = static_cast<const unsigned char*>(data);
        for (uint32_t i = 0; i + 1 < bytes; i += 2) pcm.push_back(static_cast<int16_t>(p[i] | (p[i + 1] << 8)));
        return 1;
    }
    std::vector<int16_t> pcm;
};

double Rms(const int16_t* x, std::size_t n, std::size_t stride = 1) {
    double e = 0;
    for (std::size_t i = 0; i < n; i += stride) e += double(x[i]) * x[i];
    return std::sqrt(e / double(n / stride));
}

// Voiced speech in outline: a 120 Hz glottal pulse train through two formant
// resonators, in syllables of 250 ms.
std::vector<int16_t> SpeechLike(int rate, int seconds) {
    std::vector<int16_t> x(static_cast<std::size_t>(rate * seconds));
    const double pi = 3.14159265358979;
    double y1[2] = {0, 0}, y2[2] = {0, 0};
    const double f[2] = {700, 1200}, bw[2] = {90, 110};
    for (std::size_t n = 0; n < x.size(); ++n) {
        double v = n % (rate / 120) == 0 ? 1.0 : 0.0;
        for (int k = 0; k < 2; ++k) {
            const double r = std::exp(-pi * bw[k] / rate);
            const double y = v + 2 * r * std::cos(2 * pi * f[k] / rate) * y1[k] - r * r * y2[k];
            y2[k] = y1[k];
            y1[k] = y;
            v = y * (1 - r);
        }
        const double envelope = 0.5 - 0.5 * std::cos(2 * pi * double(n) / (rate / 4.0));
        x[n] = static_cast<int16_t>(std::lround(12000.0 * envelope * v));
    }
    return x;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: host TONE_1KHZ.aac\n");
        return 2;
    }
    int failures = 0;
    auto check = [&](bool ok, const char* what, double value) {
        std::printf("%s %-44s %.3f\n", ok ? "ok  " : "FAIL", what, value);
        failures += ok ? 0 : 1;
    };

    // G.729: 8000 Hz mono 16-bit in, 10-byte frames between, PCM out.
    auto* encoder = static_cast<aurivane::AudioFilter*>(CreateObject(&aurivane::kG729EncoderId));
    auto* decoder = static_cast<aurivane::AudioFilter*>(CreateObject(&aurivane::kG729DecoderId));
    if (encoder == nullptr || decoder == nullptr) {
        std::printf("FAIL G729Encoder and G729Decoder are created\n");
        return 1;
    }
    Collect speech;
    encoder->AddSink(decoder);
    decoder->AddSink(&speech);
    const std::vector<int16_t> in = SpeechLike(8000, 1);
    std::vector<unsigned char> bytes;
    for (int16_t s : in) {
        bytes.push_back(static_cast<unsigned char>(s & 0xFF));
        bytes.push_back(static_cast<unsigned char>((s >> 8) & 0xFF));
    }
    encoder->Process(bytes.data(), static_cast<uint32_t>(bytes.size()));
    check(speech.pcm.size() == in.size(), "G.729 returns one second", double(speech.pcm.size()) / 8000.0);
    // Best normalised correlation over the codec's delay.
    double best = 0;
    for (std::size_t lag = 0; lag <= 160 && speech.pcm.size() == in.size(); ++lag) {
        double xy = 0, xx = 0, yy = 0;
        for (std::size_t n = 800; n + lag < in.size(); ++n) {
            xy += double(in[n]) * speech.pcm[n + lag];
            xx += double(in[n]) * in[n];
            yy += double(speech.pcm[n + lag]) * speech.pcm[n + lag];
        }
        if (xx > 0 && yy > 0) best = std::fmax(best, xy / std::sqrt(xx * yy));
    }
    check(best > 0.6, "G.729 output follows the input (correlation)", best);
    const double gain = 20 * std::log10(Rms(speech.pcm.data(), speech.pcm.size()) / Rms(in.data(), in.size()));
    check(std::fabs(gain) < 3.0, "G.729 keeps the level (dB)", gain);
    DestroyObject(&aurivane::kG729EncoderId, encoder);
    DestroyObject(&aurivane::kG729DecoderId, decoder);

    // AacDecoder: AacPacketStream records (a length byte, then one raw data
    // block) cut out of ADTS frames without CRC.
    std::ifstream file(argv[1], std::ios::binary);
    const std::vector<unsigned char> adts((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    auto* aac = static_cast<aurivane::AacDecoderInterface*>(CreateObject(&aurivane::kAacDecoderId));
    if (aac == nullptr || aac->Open(0) != 1) {
        std::printf("FAIL AacDecoder is created and opens\n");
        return 1;
    }
    Collect tone;
    aac->AddSink(&tone);
    std::size_t records = 0;
    for (std::size_t at = 0; at + 7 <= adts.size();) {
        const std::size_t length = ((adts[at + 3] & 3u) << 11) | (adts[at + 4] << 3) | (adts[at + 5] >> 5);
        const std::size_t header = (adts[at + 1] & 1) ? 7 : 9;
        if (adts[at] != 0xFF || length <= header || at + length > adts.size() || length - header > 255) break;
        std::vector<unsigned char> record(1, static_cast<unsigned char>(length - header));
        record.insert(record.end(), adts.begin() + long(at + header), adts.begin() + long(at + length));
        aac->Process(record.data(), static_cast<uint32_t>(record.size()));
        ++records;
        at += length;
    }
    DestroyObject(&aurivane::kAacDecoderId, aac);
    check(records > 40, "ADTS frames fed to the AacDecoder", double(records));
    // Stereo 16-bit at 22050 Hz: the 1 kHz tone of peak 1/16 (-27 dBFS RMS),
    // counted in zero crossings of the left channel past the first frames.
    const std::size_t skip = 2 * 4096;
    const bool enough = tone.pcm.size() > skip + 2 * 22050;
    const double level = enough ? 20 * std::log10(Rms(tone.pcm.data() + skip, 2 * 22050, 2) / 32768.0) : -200;
    int crossings = 0;
    for (std::size_t i = skip + 2; enough && i < skip + 2 * 22050; i += 2) {
        crossings += (tone.pcm[i - 2] < 0) != (tone.pcm[i] < 0);
    }
    check(enough, "AacDecoder output (seconds)", double(tone.pcm.size()) / 2 / 22050);
    check(std::fabs(level + 27.0) < 1.5, "AacDecoder tone level (dBFS)", level);
    check(std::abs(crossings - 2000) < 20, "AacDecoder tone zero crossings per second", crossings);
    std::printf("%s\n", failures == 0 ? "host: all checks passed" : "host: FAILED");
    return failures == 0 ? 0 : 1;
}
