// Our AAC-LC core decoder driven over an ADTS stream (any of the nine rates),
// with the output one frame late as the decoder delivers it.
#ifndef AURIVANE_TESTS_AACINTEROP_OUR_DECODER_H
#define AURIVANE_TESTS_AACINTEROP_OUR_DECODER_H

#include <array>
#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

#include "aac_peers.h"

namespace aurivane::aactest {

struct OurPcm {
    int channels = 0;    // of the ADTS header (1 or 2)
    int sampleRate = 0;
    int frames = 0;      // decode calls made
    std::vector<float> samples;  // interleaved, 16-bit scale, one frame late
    std::vector<int> statuses;   // per decode call
    std::vector<bool> noise;     // per decode call: the block used noise substitution
    // Per decode call and channel: the spectral lines (in long-window line
    // units) that hold substituted noise, directly or through intensity.
    std::vector<std::array<std::bitset<1024>, 2>> noiseLines;
    std::vector<uint32_t> tools;  // per decode call: ToolFlags the block used
};

enum ToolFlags : uint32_t {
    kToolShortWindows = 1,
    kToolMidSide = 2,
    kToolIntensity = 4,
    kToolTns = 8,
    kToolNoise = 16,
    kToolPulses = 32,
};

// Decodes every raw data block of the stream. Fails only when the stream
// holds no frame or a rate the decoder does not take.
bool CoreDecodeAdts(const std::vector<uint8_t>& adts, OurPcm* out, std::string* error);

// A peer's decoding (interleaved, same channel count) compared with ours
// after dropping our first, silent frame (and the frames the peer skipped):
// `frames` whole frames from the peer's first; 0 means as many as both hold.
struct Comparison {
    double snrDb = 0.0;
    double maxDiff = 0.0;
    std::size_t frames = 0;
    std::vector<double> frameSnrDb;  // per compared frame
    // Substituted noise is random in every decoder: the frames that overlap
    // a block with noise bands are compared by energy, the others by SNR.
    std::size_t noiseFrames = 0;
    double snrDbWithoutNoise = 0.0;
    double noiseEnergyRatioDb = 0.0;  // ours over the peer's, over those frames
};
Comparison CompareDelayed(const PeerPcm& peer, const OurPcm& ours, std::size_t frames = 0);

// The same comparison per long-window scalefactor band, on the Hann-windowed
// spectrum of every output frame and channel. A band whose lines (or the
// lines a few bins around it) hold substituted noise in either overlapping
// block is compared by energy; a band clear of noise by SNR.
struct BandComparison {
    int firstLine = 0, endLine = 0;
    int cleanCount = 0;  // frames x channels compared sample-exactly
    // Their error energy against the whole signal's energy (all bands, all
    // frames): float rounding sits near -140 dB in every band, a wrong
    // band near the band's own level.
    double errorDb = 0.0;
    int noiseCount = 0;          // frames x channels holding noise
    double energyRatioDb = 0.0;  // ours over the peer's, over those
};
std::vector<BandComparison> CompareBands(const PeerPcm& peer, const OurPcm& ours);

// Every band clear of noise within `maxErrorDb` of the peer, every band
// holding noise in at least 8 frames within [minNoiseDb, maxNoiseDb] of the
// peer's energy; prints the bands.
void ExpectBandsAgree(const std::vector<BandComparison>& bands, const std::string& what, double maxErrorDb,
                      double minNoiseDb, double maxNoiseDb);

}  // namespace aurivane::aactest

#endif
