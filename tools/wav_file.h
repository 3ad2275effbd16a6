// Whole-file images of audio as 16-bit PCM, for the program's commands and
// the tests: the same libsndfile reading and writing as audio_input.h, on a
// file or on bytes in memory.
#ifndef AURIVANE_TOOLS_WAV_FILE_H
#define AURIVANE_TOOLS_WAV_FILE_H

#include <cstdint>
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

}  // namespace aurivane

#endif
