// RIFF/WAVE reading and writing: 16-bit PCM, mono or stereo, any rate.
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

// Parses a whole file image. Anything but 16-bit PCM with 1 or 2 channels,
// and any truncated or inconsistent header, fails with a message.
bool ParseWav(const uint8_t* data, std::size_t size, WavData* out, std::string* error);
bool ReadWav(const std::string& path, WavData* out, std::string* error);

std::vector<uint8_t> SerialiseWav(const WavData& wav);
bool WriteWav(const std::string& path, const WavData& wav, std::string* error);

}  // namespace aurivane

#endif
