#include "g729_test_io.h"

#include "g729/g729_codec.h"
#include "wav_file.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

namespace aurivane::test {

const char* const kSpeechItems[5] = {"us_male", "gb_female", "de_male", "us_female_noisy", "low_level"};

std::optional<std::string> SharedSampleDir(const std::string& sub) {
    const std::string dir = std::string(AURIVANE_SHARED_DIR) + "/samples/" + sub;
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) return std::nullopt;
    return dir;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<int16_t> ReadRawPcm(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadBytes(path);
    std::vector<int16_t> pcm(bytes.size() / 2);
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        pcm[i] = static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
    }
    return pcm;
}

std::vector<int16_t> DecodeMuLaw(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> out(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int u = ~bytes[i] & 0xFF;
        const int magnitude = (((u & 0x0F) << 3) + 0x84) << ((u & 0x70) >> 4);
        out[i] = static_cast<int16_t>((u & 0x80) ? 0x84 - magnitude : magnitude - 0x84);
    }
    return out;
}

bool ParseSerialBitstream(const std::vector<uint8_t>& file, SerialBitstream* out) {
    constexpr std::size_t kRecordBytes = 82 * 2;
    if (file.empty() || file.size() % kRecordBytes != 0) return false;
    out->frames.assign(file.size() / kRecordBytes * 10, 0);
    out->erased.assign(file.size() / kRecordBytes, false);
    auto word = [&](std::size_t at) { return static_cast<uint16_t>(file[at] | (file[at + 1] << 8)); };
    for (std::size_t f = 0; f < out->erased.size(); ++f) {
        const std::size_t base = f * kRecordBytes;
        if (word(base) != 0x6B21 || word(base + 2) != 80) return false;
        bool allZero = true;
        for (int b = 0; b < 80; ++b) {
            const uint16_t w = word(base + 4 + 2 * b);
            if (w == 0x0081) {
                out->frames[f * 10 + b / 8] |= static_cast<uint8_t>(0x80 >> (b % 8));
            } else if (w != 0x007F && w != 0) {
                return false;
            }
            allZero = allZero && w == 0;
        }
        out->erased[f] = allZero;
    }
    return true;
}

FrameParameters UnpackFrame(const uint8_t* frame) {
    static constexpr int kWidths[11] = {8, 10, 8, 1, 13, 4, 7, 5, 13, 4, 7};
    FrameParameters p{};
    int bit = 0;
    for (int i = 0; i < 11; ++i) {
        uint32_t v = 0;
        for (int k = 0; k < kWidths[i]; ++k, ++bit) {
            v = (v << 1) | ((frame[bit / 8] >> (7 - bit % 8)) & 1u);
        }
        p[i] = v;
    }
    return p;
}

bool ParityMatches(const FrameParameters& p) {
    uint32_t sum = 1;
    for (int b = 2; b <= 7; ++b) sum += (p[2] >> b) & 1u;
    return (sum & 1u) == p[3];
}

std::vector<uint8_t> OursEncodeAll(const std::vector<int16_t>& pcm) {
    auto enc = std::make_unique<G729EncoderState>();
    const std::size_t frames = pcm.size() / 80;
    std::vector<uint8_t> out(frames * 10);
    for (std::size_t k = 0; k < frames; ++k) enc->EncodeFrame(&pcm[80 * k], &out[10 * k]);
    return out;
}

std::vector<int16_t> OursDecodeAll(const std::vector<uint8_t>& frames) {
    auto dec = std::make_unique<G729DecoderState>();
    const std::size_t count = frames.size() / 10;
    std::vector<int16_t> out(count * 80);
    for (std::size_t k = 0; k < count; ++k) dec->DecodeFrame(&frames[10 * k], &out[80 * k]);
    return out;
}

std::vector<int16_t> LoadSpeechItem(const std::string& name) {
    const std::string path = std::string(AURIVANE_TEST_DATA_DIR) + "/g729/" + name + ".wav";
    WavData wav;
    std::string error;
    if (!ReadWav(path, &wav, &error)) throw std::runtime_error(path + ": " + error);
    if (wav.sampleRate != 8000 || wav.channels != 1) throw std::runtime_error(path + ": not 8 kHz mono");
    return wav.samples;
}

}  // namespace aurivane::test
