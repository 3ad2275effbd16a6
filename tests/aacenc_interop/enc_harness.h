// Encoder acceptance harness: test items made at test time (espeak-ng
// speech, sox-synthesised music, generated noises and edge signals) in the
// build tree, runs of the aurivane program and of ffmpeg's own AAC encoder,
// peer decodings with their standard error kept, and the listener measures
// (bandwidth, per-channel level, third-octave ILD) on 16-bit PCM.
#ifndef AURIVANE_TESTS_AACENC_INTEROP_ENC_HARNESS_H
#define AURIVANE_TESTS_AACENC_INTEROP_ENC_HARNESS_H

#include "aacinterop/aac_peers.h"
#include "wav_file.h"

#include <cstdint>
#include <string>
#include <vector>

namespace aurivane::enctest {

// Mono kinds: speech music pink white clicks sweep tone silence lsb square dc
// nyquist. Stereo adds: panned (speech off centre with a room tail), wide
// (plucks hard left, pad hard right, a glide moving across), uncorrelated
// (independent pink noise), left_only, opposite (right = -left). Any mono
// kind asked for in stereo is the same signal in both channels.
// Returns the WAV path (made once per build tree), or "" with `error`.
std::string MakeItem(const std::string& kind, int rate, int channels, double seconds, std::string* error);

bool HaveTools();  // sox and espeak-ng, for MakeItem
std::string WorkFile(const std::string& name);  // scratch file beside the items

// Runs a shell command; its standard error (and output, when `output` is
// given) is kept. Returns the exit status.
int RunCommand(const std::string& command, std::string* standardError, std::string* output = nullptr);
std::string Quote(const std::string& s);

// The aurivane program with these arguments; false on a non-zero exit.
bool RunCli(const std::string& arguments, std::string* output, std::string* error);

// ffmpeg's native AAC-LC encoder into ADTS at the input's rate and channels.
bool FfmpegEncodeAac(const std::string& wav, const std::string& adts, int bitrate, std::string* error);

// ffmpeg's float decoding at the stream's own channel count; fails on a
// non-zero exit or anything ffmpeg writes to standard error.
bool FfmpegDecodeQuiet(const std::string& path, int channels, aactest::PeerPcm* out, std::string* error);
// faad's 16-bit WAV decoding; fails likewise.
bool FaadDecodeQuiet(const std::string& path, WavData* out, std::string* error);
// ffprobe's profile, rate and channel count of the first audio stream.
struct Probe {
    std::string profile;
    int sampleRate = 0;
    int channels = 0;
};
bool FfprobeStream(const std::string& path, Probe* out, std::string* error);

// Raw data block sizes of an ADTS file written with one block per frame.
std::vector<std::size_t> AdtsPayloadSizes(const std::string& adts, int* sampleRate);

// The bit reservoir's promise, checked on the access-unit sizes of a stream
// whose reservoir starts full (6144 bits less the mean frame, in whole
// bytes): after every frame n the bits spent exceed n mean frames by no more
// than that reservoir, and fall short of them (fill bits keep the reservoir
// from overflowing) by no more than a byte, or what a per-frame `ceiling` in
// bytes forces. Returns the largest excess in bits, or a message in `error`.
long CheckReservoir(const std::vector<std::size_t>& sizes, int bitrate, int coreRate, std::size_t ceiling,
                    std::string* error);

// One channel of interleaved PCM.
std::vector<int16_t> Channel(const std::vector<int16_t>& pcm, int channels, int c);
// Highest frequency whose long-term level is within 40 dB of the loudest
// part of the spectrum (bands of 1/64 of the rate), in Hz.
double BandwidthHz(const std::vector<int16_t>& mono, int rate);
// Long-term level per third-octave band (centres 100 Hz .. 16 kHz below
// Nyquist), in dB.
std::vector<double> ThirdOctaveLevelsDb(const std::vector<int16_t>& mono, int rate);
// Mean |ILD(test) - ILD(ref)| over the third-octave bands within 40 dB of
// the reference's loudest band, each ILD clamped to +-25 dB. `lag` shifts
// the test back (in sample frames).
double IldErrorDb(const std::vector<int16_t>& refL, const std::vector<int16_t>& refR,
                  const std::vector<int16_t>& testL, const std::vector<int16_t>& testR, int rate, int lag);
// Shifts `test` back by `lag` and cuts both to the overlap.
void Align(std::vector<int16_t>* ref, std::vector<int16_t>* test, int lag);

// A table printed after all tests (rows in the order added).
void AddTableRow(const std::string& table, const std::string& header, const std::string& row);
void PrintTables();

}  // namespace aurivane::enctest

#endif
