#include "aac_test_util.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace aurivane::aactest {

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

AdtsStream SplitAdts(const std::vector<uint8_t>& b) {
    static const int kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};
    AdtsStream s;
    std::size_t pos = 0;
    while (pos + 7 <= b.size()) {
        if (b[pos] != 0xFF || (b[pos + 1] & 0xF6) != 0xF0) break;
        const bool crc = (b[pos + 1] & 1) == 0;
        const int rateIndex = (b[pos + 2] >> 2) & 15;
        const int channels = ((b[pos + 2] & 1) << 2) | (b[pos + 3] >> 6);
        const std::size_t length = (static_cast<std::size_t>(b[pos + 3] & 3) << 11) | (b[pos + 4] << 3) | (b[pos + 5] >> 5);
        const std::size_t header = crc ? 9 : 7;
        if (length < header || pos + length > b.size()) break;
        if (rateIndex < 12) s.sampleRate = kRates[rateIndex];
        s.channels = channels;
        s.blocks.emplace_back(b.begin() + static_cast<std::ptrdiff_t>(pos + header),
                              b.begin() + static_cast<std::ptrdiff_t>(pos + length));
        pos += length;
    }
    return s;
}

bool RunCommand(const std::string& command) { return std::system(command.c_str()) == 0; }

std::vector<float> PeerDecode(const std::string& path, int channels) {
    const std::string command = "ffmpeg -hide_banner -loglevel error -i '" + path + "' -f f32le -ac " +
                                std::to_string(channels) + " - 2>/dev/null";
    std::vector<float> out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    float buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, sizeof(float), 4096, pipe)) > 0) {
        for (std::size_t i = 0; i < n; ++i) out.push_back(buffer[i] * 32768.0f);
    }
    if (pclose(pipe) != 0) out.clear();
    return out;
}

CoreHarness::CoreHarness(int sampleRate) {
    std::memset(storage_, 0, sizeof(storage_));
    std::memset(time_, 0, sizeof(time_));
    std::memset(&sbr_, 0, sizeof(sbr_));
    BitBufferCreate(&bits_, storage_, sizeof(storage_));
    AacCoreDecoderOpen(&core_, &bits_, &sbr_, time_);
    AacCoreDecoderConfigure(&core_, sampleRate, 0);
}

int CoreHarness::Decode(const std::vector<uint8_t>& block, int frameValid) {
    // Each block starts on a clean buffer, as the decoder filter does.
    BitBufferAttach(&bits_, storage_, sizeof(storage_));
    for (uint8_t byte : block) BitBufferWrite(&bits_, byte, 8);
    sbr_.count = 0;
    int frameSize = 0, rate = 0, mode = 0;
    return AacCoreDecodeFrame(&core_, &frameSize, &rate, &channels_, &mode, frameValid);
}

std::vector<float> DecodeBlocks(const AdtsStream& stream, std::vector<bool>* noiseFree) {
    CoreHarness h(stream.sampleRate);
    std::vector<float> out;
    bool first = true;
    auto append = [&]() {
        for (int i = 0; i < 1024; ++i)
            for (int c = 0; c < stream.channels; ++c)
                out.push_back(h.Time()[1024 * (h.Channels() == 2 ? c : 0) + i]);
    };
    bool previousNoise = false;
    for (const auto& block : stream.blocks) {
        h.Decode(block);
        const bool noise = h.Core().channel[0].usesNoise || (h.Channels() == 2 && h.Core().channel[1].usesNoise);
        if (noiseFree) noiseFree->push_back(!noise && !previousNoise);
        previousNoise = noise;
        if (!first) append();
        first = false;
    }
    h.Decode({0xE0});  // an END element flushes the last frame out of the delay line
    append();
    return out;
}

double SnrDb(const std::vector<float>& reference, const std::vector<float>& test) {
    const std::size_t n = std::min(reference.size(), test.size());
    double signal = 0.0, noise = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        signal += static_cast<double>(reference[i]) * reference[i];
        const double d = static_cast<double>(reference[i]) - test[i];
        noise += d * d;
    }
    if (noise == 0.0) return 300.0;
    return 10.0 * std::log10(signal / noise);
}

double SnrDb(const std::vector<float>& reference, const std::vector<float>& test, int channels,
             const std::vector<bool>& frames) {
    const std::size_t n = std::min(reference.size(), test.size());
    const std::size_t frameSamples = 1024u * static_cast<std::size_t>(channels);
    double signal = 0.0, noise = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t f = i / frameSamples;
        if (f >= frames.size() || !frames[f]) continue;
        signal += static_cast<double>(reference[i]) * reference[i];
        const double d = static_cast<double>(reference[i]) - test[i];
        noise += d * d;
    }
    if (noise == 0.0) return signal > 0.0 ? 300.0 : 0.0;
    return 10.0 * std::log10(signal / noise);
}

void BitWriter::Put(uint32_t value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        if (pending == 0) bytes.push_back(0);
        if ((value >> i) & 1u) bytes.back() |= static_cast<uint8_t>(0x80u >> pending);
        pending = (pending + 1) & 7;
    }
}

void BitWriter::Align() {
    pending = 0;
}

}  // namespace aurivane::aactest
