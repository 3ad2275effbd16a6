// Independent AAC decoders run as black-box programs (ffmpeg, faad), file
// helpers and float signal measures for the AAC interoperability tests.
#ifndef AURIVANE_TESTS_AACINTEROP_AAC_PEERS_H
#define AURIVANE_TESTS_AACINTEROP_AAC_PEERS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace aurivane::aactest {

std::string SharedDir();     // the shared samples and tables
std::string DataDir();       // tests/data/aacdec
std::string WorkPath(const std::string& name);  // scratch file in the build tree

bool ReadBytes(const std::string& path, std::vector<uint8_t>* out);
bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& path);
bool HaveProgram(const char* name);

// Decoded interleaved PCM of a peer decoder.
struct PeerPcm {
    int channels = 0;
    int skippedFrames = 0;       // leading frames the peer does not output
    std::vector<float> samples;  // at the 16-bit scale, 32768 = full scale
};

// ffmpeg's decoding of `path`, as float (f32le) or 16-bit (s16le) samples;
// the 16-bit ones are returned unscaled in `samples`. `channels` is the
// stream's channel count. Fails when ffmpeg reports any decoding error.
bool FfmpegDecode(const std::string& path, int channels, bool float32, PeerPcm* out, std::string* error);
// faad's decoding of an ADTS stream of `frames` frames, as 32-bit float raw
// output. It does not output the first frame and writes mono as two equal
// channels; both are undone here (channel 0 is kept for mono). It upsamples
// streams at or below 24 kHz as if they carried SBR, so only higher rates
// compare sample by sample; those fail here.
bool FaadDecode(const std::string& path, int channels, int frames, PeerPcm* out, std::string* error);
// Remuxes an MP4 to ADTS with ffmpeg (stream copy).
bool FfmpegRemuxToAdts(const std::string& mp4, const std::string& adts, std::string* error);

double MaxAbsDiff(const float* ref, const float* test, std::size_t n);
// Mean square over n samples.
double Energy(const float* x, std::size_t n);

// Adds a line to the SNR table printed at the end of the test program (an
// snrDb of NaN prints as "-", for rows that report only the difference).
void RecordSnr(const std::string& item, const std::string& against, double snrDb, double maxDiff, std::size_t frames);
void PrintSnrTable();

}  // namespace aurivane::aactest

#endif
