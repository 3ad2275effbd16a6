// Decoding HE-AAC streams with our decoder and with independent peers
// (ffmpeg, faad, run as programs), and the measures the SBR interop tests
// compare them with.
#ifndef AURIVANE_TESTS_SBRINTEROP_SBR_HARNESS_H
#define AURIVANE_TESTS_SBRINTEROP_SBR_HARNESS_H

#include "support/sbr_payload_gen.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace aurivane::test {

// Interleaved 16-bit stereo, or fewer channels for peers that say so.
struct Decoded {
    bool ok = false;
    std::string error;
    int sampleRate = 0;
    int channels = 0;
    std::vector<int16_t> pcm;  // interleaved
    std::vector<float> f32;    // ours and ffmpeg: interleaved, before conversion (16-bit scale)
    std::size_t Frames() const { return channels ? pcm.size() / channels : 0; }
    std::vector<int16_t> Channel(int c) const;
};

std::string WorkDir();  // scratch directory in the build tree

// The generated test streams: real AAC-LC cores (committed under
// tests/data/sbr) with generated SBR/PS payloads.
enum class StreamKind {
    kHighQuality,  // SBR, or PS without IPD/OPD: complex QMF, as the peers
    kPhaseParams,  // PS with IPD/OPD, which our decoder does not apply
    kInvalidGrid,  // some frames carry a FIXFIX grid of 8 envelopes
};
struct StreamCase {
    const char* name;
    bool stereo;
    StreamKind kind;
    SbrGenOptions options;
};
const std::vector<StreamCase>& GeneratedStreams();
inline void PrintTo(const StreamCase& item, std::ostream* os) { *os << item.name; }
// Loads the core, drops blocks too large to carry SBR data in a packet
// record and adds the payloads. Fails when the committed core is missing.
bool BuildStream(const StreamCase& item, AdtsStream* out, SbrGenStats* stats, std::string* error);
bool HaveProgram(const char* name);

// ffmpeg's float output, converted the way our decoder converts
// (truncation toward zero, clamped), always as two channels.
Decoded DecodeWithFfmpeg(const std::string& adtsPath);
// faad's 16-bit WAV output.
Decoded DecodeWithFaad(const std::string& adtsPath);

// Our decoder driven directly (bit buffer, AAC core, SBR/PS) for a core at
// any rate, exactly as the AacDecoder filter drives it at 22050 Hz (which
// passes no SBR open options). Always two channels (mono duplicated).
Decoded DecodeWithOurs(const AdtsStream& stream, int sbrOptions = 0);
// Through the engine object (class id 8) on an AacPacketStream; the rate
// is what the frame sizes say (2048 pairs per frame: twice 22050 Hz).
Decoded DecodeWithEngine(const std::vector<uint8_t>& packetStream);

// Lag of `test` against `ref` in [-maxLag, maxLag] (samples of channel 0)
// that minimises the squared difference over a window of the signals.
int FindLag(const std::vector<int16_t>& ref, const std::vector<int16_t>& test, int maxLag);
// SNR of interleaved stereo `test`, read `lag` sample pairs late, against
// `ref`, from pair `skip` of the overlap on.
double StereoSnrDb(const std::vector<int16_t>& ref, const std::vector<int16_t>& test, int lag, std::size_t skip = 0);
double RmsDbfs(const std::vector<int16_t>& x);

// Mean power per band of a long-term spectrum (2048-point Hann, hop 1024)
// in dB; band b covers [b * bandHz, (b + 1) * bandHz).
std::vector<double> BandLevelsDb(const std::vector<int16_t>& x, int sampleRate, double bandHz, int lag = 0);

struct BandComparison {
    double maxAbsDb = 0;   // largest level difference over compared bands
    double meanAbsDb = 0;
    int bands = 0;         // bands compared (reference above the floor)
};
// Compares the bands within [fromHz, toHz) whose reference level lies
// within 60 dB of the loudest band of that range.
BandComparison CompareBands(const std::vector<int16_t>& ref, const std::vector<int16_t>& test, int sampleRate,
                            int lag, double fromHz, double toHz, double bandHz);

// Level of one channel above fromHz per 1024-sample block (Hann-windowed),
// in dB; block i starts at sample pair lag + 1024 i (blocks before the
// signal are NaN).
std::vector<double> BlockHighBandDb(const std::vector<int16_t>& x, int channel, int sampleRate, double fromHz,
                                    int lag = 0);

// Signed per-block level differences against the reference, in dB.
struct LevelSpread {
    double median = 0, mean = 0, p90 = 0;
};
// Per-block levels above fromHz of both channels of `ours` (read `lag`
// pairs late) against `ref`, over the blocks within 50 dB of the loudest
// reference block and above -100 dBFS (below, 16-bit decoders differ by
// their rounding), after the reference's first frame (the SBR and PS
// start-up, where faad has no output). A block agrees when |ours - ref| is at most the second
// peer's own distance from `ref` in that block (peer read `peerLag` late;
// none: 0) plus marginDb.
struct BlockAgreement {
    int blocks = 0;       // compared, both channels
    int outside = 0;      // blocks that do not agree
    double worstDb = -1;  // largest |ours - ref| - (peer distance + margin)
    int worstBlock = -1, worstChannel = -1;
    LevelSpread ours[2], peer[2];
};
BlockAgreement CompareBlockLevels(const Decoded& ref, const Decoded& ours, int lag, const Decoded* peer, int peerLag,
                                  int sampleRate, double fromHz, double marginDb);
// Blocks that may disagree: none with the second peer's distance as the
// tolerance; without it, the isolated blocks (at most 1 in 50) where the
// peers themselves part.
inline int OutsideAllowed(const BlockAgreement& a, bool withPeer) { return withPeer ? 0 : a.blocks / 50; }

}  // namespace aurivane::test

#endif
