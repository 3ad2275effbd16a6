#include "wav_file.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace aurivane {

namespace {

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

bool Fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}

}  // namespace

bool ParseWav(const uint8_t* data, std::size_t size, WavData* out, std::string* error) {
    if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0) {
        return Fail(error, "not a RIFF/WAVE file");
    }
    bool haveFormat = false;
    uint16_t formatTag = 0, channels = 0, bits = 0, blockAlign = 0;
    uint32_t rate = 0;
    std::size_t pos = 12;
    // Walk the chunks; the RIFF size field is not trusted (streams often lie).
    while (pos + 8 <= size) {
        const uint8_t* chunk = data + pos;
        const uint32_t chunkSize = Le32(chunk + 4);
        const std::size_t body = pos + 8;
        const std::size_t available = size - body;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (chunkSize < 16 || available < 16) return Fail(error, "truncated 'fmt ' chunk");
            formatTag = Le16(data + body);
            channels = Le16(data + body + 2);
            rate = Le32(data + body + 4);
            blockAlign = Le16(data + body + 12);
            bits = Le16(data + body + 14);
            // WAVE_FORMAT_EXTENSIBLE with a PCM sub-format is PCM too.
            if (formatTag == 0xFFFE && chunkSize >= 40 && available >= 40) formatTag = Le16(data + body + 24);
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) return Fail(error, "'data' chunk before 'fmt ' chunk");
            if (formatTag != 1) return Fail(error, "unsupported WAV encoding (only 16-bit PCM is read)");
            if (bits != 16) return Fail(error, "unsupported sample width " + std::to_string(bits) + " bits (16-bit PCM expected)");
            if (channels != 1 && channels != 2) return Fail(error, "unsupported channel count " + std::to_string(channels) + " (mono or stereo expected)");
            if (rate == 0) return Fail(error, "sample rate of 0 Hz");
            if (blockAlign != channels * 2) return Fail(error, "inconsistent block alignment in 'fmt ' chunk");
            // A data size past the end of the file is clipped to what is there.
            std::size_t bytes = chunkSize;
            if (bytes > available) bytes = available;
            bytes -= bytes % blockAlign;
            out->sampleRate = rate;
            out->channels = channels;
            out->samples.resize(bytes / 2);
            for (std::size_t i = 0; i < bytes / 2; ++i) {
                out->samples[i] = static_cast<int16_t>(Le16(data + body + 2 * i));
            }
            return true;
        }
        const std::size_t advance = 8 + static_cast<std::size_t>(chunkSize) + (chunkSize & 1u);
        if (advance > size - pos) break;
        pos += advance;
    }
    return Fail(error, haveFormat ? "no 'data' chunk" : "no 'fmt ' chunk");
}

bool ReadWav(const std::string& path, WavData* out, std::string* error) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) return Fail(error, "cannot open '" + path + "'");
    std::vector<uint8_t> bytes;
    uint8_t block[65536];
    std::size_t n;
    while ((n = std::fread(block, 1, sizeof block, file.get())) > 0) bytes.insert(bytes.end(), block, block + n);
    if (std::ferror(file.get())) return Fail(error, "cannot read '" + path + "'");
    std::string why;
    if (!ParseWav(bytes.data(), bytes.size(), out, &why)) return Fail(error, path + ": " + why);
    return true;
}

std::vector<uint8_t> SerialiseWav(const WavData& wav) {
    const uint32_t dataBytes = static_cast<uint32_t>(wav.samples.size() * 2);
    const uint16_t blockAlign = static_cast<uint16_t>(wav.channels * 2);
    std::vector<uint8_t> out;
    out.reserve(44 + dataBytes);
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    Put32(out, 36 + dataBytes);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put32(out, 16);
    Put16(out, 1);
    Put16(out, wav.channels);
    Put32(out, wav.sampleRate);
    Put32(out, wav.sampleRate * blockAlign);
    Put16(out, blockAlign);
    Put16(out, 16);
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    Put32(out, dataBytes);
    for (int16_t s : wav.samples) Put16(out, static_cast<uint16_t>(s));
    return out;
}

bool WriteWav(const std::string& path, const WavData& wav, std::string* error) {
    const std::vector<uint8_t> bytes = SerialiseWav(wav);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!file) return Fail(error, "cannot create '" + path + "'");
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size() || std::fflush(file.get()) != 0) {
        return Fail(error, "cannot write '" + path + "'");
    }
    return true;
}

}  // namespace aurivane
