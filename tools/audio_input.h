// The program's audio files: whatever libsndfile reads (WAV in any PCM or
// float encoding, FLAC, AIFF, Ogg Vorbis, ...) comes in as interleaved 16-bit
// PCM, converted with libsoxr to the rate and channel count a codec takes;
// output is 16-bit PCM WAV. Errors name the file, what it is and what is
// accepted. No state beyond the call.
#ifndef AURIVANE_TOOLS_AUDIO_INPUT_H
#define AURIVANE_TOOLS_AUDIO_INPUT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct sf_private_tag;  // libsndfile's SNDFILE

namespace aurivane {

struct AudioInfo {
    int sampleRate = 0;
    int channels = 0;
    long long frames = 0;
    std::string format;  // e.g. "FLAC 16-bit", "WAV 32-bit float"
};

// What the input formats are, for error messages.
extern const char* const kAcceptedAudio;

// Opens the file's header only. On failure the error names the file and says
// whether it is missing, empty, damaged, or not audio this program reads.
bool ProbeAudio(const std::string& path, AudioInfo* info, std::string* error);

// Reads the whole file as interleaved 16-bit PCM. A target rate or channel
// count of 0 keeps the file's own; otherwise the audio is mixed down (or the
// mono channel repeated) and resampled, and a line such as
// "converting 22050 Hz stereo to 8000 Hz mono" goes to stderr. A file that
// ends before its header says it should is an error, not a short read.
bool ReadAudio(const std::string& path, int targetRate, int targetChannels, std::vector<int16_t>* pcm,
               std::string* error, AudioInfo* source = nullptr);

// The rate a codec should be fed: the source rate when it is accepted, else
// the lowest accepted rate above it, else the highest accepted rate.
int ChooseRate(int sourceRate, const std::vector<int>& accepted);

// "mono", "stereo" or "N channels".
std::string ChannelName(int channels);

// 16-bit PCM WAV; frames counts sample frames, not samples.
bool WriteWav(const std::string& path, const int16_t* pcm, std::size_t frames, int rate, int channels,
              std::string* error);

// A progress line on stderr for jobs longer than a few seconds of audio,
// shown only when stderr is a terminal, and a summary line on stdout always.
class ProgressLine {
public:
    ProgressLine(const char* verb, double totalSeconds);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void Update(double doneSeconds);
    // Clears the progress line and prints the summary (a newline is added).
    void Finish(const std::string& summary);

private:
    const char* verb_;
    double total_;
    bool shown_;
    bool active_ = false;
    long long lastMs_ = -1000;
};

// Shared by the file and in-memory readers (wav_file.cpp).
// False when a RIFF/RF64 WAVE chunk other than 'data' claims to run past the end
// of the file; read(offset, 8 bytes) fetches a chunk header.
bool RiffChunksFit(unsigned long long size, bool (*read)(void* user, unsigned long long offset, uint8_t* header),
                   void* user, std::string* chunk);
bool CutShort(::sf_private_tag* file, unsigned long long* declared, unsigned long long* present);
void FloatToPcm16(const float* in, int16_t* out, std::size_t count);

}  // namespace aurivane

#endif
