// Whole-file images of audio as 16-bit PCM, for the program's commands and
// the tests: the same libsndfile reading and writing as audio_input.h, on a
// file or on bytes in memory.
#ifndef AURIVANE_TOOLS_WAV_FILE_H
#define AURIVANE_TOOLS_WAV_FILE_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace aurivane {

struct WavData {
    uint32_t sampleRate = 0;
    uint16_t channels = 0;
    std::vector<int16_t> samples;  // interleaved
};

// Parses a whole RIFF/RF64 WAVE image (any encoding libsndfile reads, any
// channel count); a damaged or truncated image fails with a message.
bool ParseWav(const uint8_t* data, std::size_t size, WavData* out, std::string* error);
bool ReadWav(const std::string& path, WavData* out, std::string* error);

// A 16-bit PCM WAV image.
std::vector<uint8_t> SerialiseWav(const WavData& wav);
bool WriteWav(const std::string& path, const WavData& wav, std::string* error);

// A 16-bit PCM WAV file written as it is produced: a canonical 44-byte
// header whose rate, channel count and sizes are filled in by Finish, and
// samples gathered into blocks of kBlockBytes before each write, so a long
// decode holds neither the whole output nor a write call per frame.
class WavWriter {
public:
    static constexpr std::size_t kBlockBytes = 1 << 18;

    WavWriter() = default;
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;
    ~WavWriter();

    bool Open(const std::string& path, std::string* error);
    // Interleaved samples; the caller's channel count holds for the file.
    bool Write(const int16_t* samples, std::size_t count);
    // Room for `count` more samples in the block, to convert straight into;
    // Commit(count) then takes them. Null for count > kBlockBytes / 2.
    int16_t* Reserve(std::size_t count);
    void Commit(std::size_t count) { used_ += 2 * count; }
    // Writes what is held and the header; the file is closed either way.
    bool Finish(uint32_t sampleRate, uint16_t channels, std::string* error);
    uint64_t SamplesWritten() const { return (written_ + used_) / 2; }

private:
    bool Flush();

    std::FILE* file_ = nullptr;
    std::string path_;
    std::vector<uint8_t> block_;
    std::size_t used_ = 0;
    uint64_t written_ = 0;  // data bytes already in the file
    bool failed_ = false;
};

}  // namespace aurivane

#endif
