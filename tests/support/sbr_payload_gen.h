// Random but valid SBR and parametric-stereo extension payloads for
// HE-AAC tests, and the plumbing that puts them into real AAC-LC raw data
// blocks: fill elements (EXT_SBR_DATA / EXT_SBR_DATA_CRC) after the channel
// element, rewrapped as ADTS or as an AacPacketStream.
//
// The generator derives the SBR frequency band tables itself (master,
// high/low resolution, noise floor bands, patches) so that every payload it
// writes is decodable by any conforming decoder; it shares no code with the
// decoder under test.
#ifndef AURIVANE_TEST_SUPPORT_SBR_PAYLOAD_GEN_H
#define AURIVANE_TEST_SUPPORT_SBR_PAYLOAD_GEN_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/adts_stream.h"

namespace aurivane::test {

// MSB-first bit writer over a growing byte vector.
class SbrBitWriter {
public:
    void Put(uint32_t value, int bits);
    void PutBit(bool bit) { Put(bit ? 1u : 0u, 1); }
    void AlignZero();
    std::size_t BitCount() const { return bits_; }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    // Overwrites `bits` bits at a bit position already written.
    void Patch(std::size_t bitPos, uint32_t value, int bits);
    int BitAt(std::size_t bitPos) const { return (bytes_[bitPos >> 3] >> (7 - (bitPos & 7))) & 1; }

private:
    std::vector<uint8_t> bytes_;
    std::size_t bits_ = 0;
};

// CRC of bs_sbr_crc_bits: x^10 + x^9 + x^5 + x^4 + x + 1, initial value 0,
// over `bitCount` bits of `data` starting at bit `firstBit`, MSB first.
uint32_t SbrCrc10(const std::vector<uint8_t>& data, std::size_t firstBit, std::size_t bitCount);

struct SbrHeaderFields {
    int ampRes = 1;
    int startFreq = 5;
    int stopFreq = 0;
    int xoverBand = 0;
    int freqScale = 2;
    int alterScale = 1;
    int noiseBands = 2;
    int limiterBands = 2;
    int limiterGains = 2;
    int interpolFreq = 1;
    int smoothingMode = 1;
};

// The frequency band tables of ISO/IEC 14496-3 4.6.18.3 for one header.
struct SbrBandTables {
    bool valid = false;
    std::string error;  // why a header is unusable
    int k0 = 0, k2 = 0, kx = 0, m = 0;
    std::vector<int> master;   // N_master + 1 borders
    std::vector<int> high;     // N_high + 1
    std::vector<int> low;      // N_low + 1
    std::vector<int> noise;    // N_Q + 1
    int numPatches = 0;
    int NHigh() const { return static_cast<int>(high.size()) - 1; }
    int NLow() const { return static_cast<int>(low.size()) - 1; }
    int NQ() const { return static_cast<int>(noise.size()) - 1; }
};

// outputRate is the SBR (output) sampling rate, twice the core rate.
SbrBandTables BuildSbrBandTables(const SbrHeaderFields& h, int outputRate);

struct SbrGenOptions {
    uint32_t seed = 1;
    bool pair = false;            // channel pair element (core is a CPE)
    int coupling = 2;             // pair only: 0 independent, 1 coupled, 2 both, varying
    bool crc = false;             // EXT_SBR_DATA_CRC instead of EXT_SBR_DATA
    bool headerChanges = true;    // new random headers now and then (a reset)
    bool randomHeaders = true;    // false: the first header is the default-like one above
    int frameClassMask = 0xF;     // bit c allows frame class c (0 FIXFIX .. 3 VARVAR)
    int ampResMask = 3;           // bit r allows bs_amp_res r in headers
    bool sinusoids = true;
    bool timeDelta = true;        // allow bs_df_env / bs_df_noise = 1
    // Parametric stereo (mono only): ps_data in every frame's sbr_extension.
    bool ps = false;
    int psModeMask = 0x3F;        // bit m allows iid_mode / icc_mode m (0..5)
    bool psFrameClassVar = true;  // allow frame_class 1 (explicit borders)
    bool psIpdOpd = false;        // ps_extension with IPD/OPD data
    // Hostile: IID and ICC indices that walk beyond their quantisation
    // grids (up to +-13 and 11), and grid changes in frames without
    // envelopes (the held fine-grid values are out of range on the coarse
    // grid); a decoder must not use them as table indices.
    bool psOutOfRange = false;
    // Every Nth frame (0 never) carries a FIXFIX grid with 8 envelopes,
    // which the standard does not allow: the frame is invalid.
    int invalidFixFix8Every = 0;
    // Highest crossover band kx a random header may have. A real encoder
    // puts the crossover at the core's audio bandwidth, so that the patches
    // copy bands that carry signal.
    int maxKx = 64;
    int outputRate = 44100;
};

// Counts of what the generator actually wrote, to check coverage.
struct SbrGenStats {
    int frames = 0;
    int headers = 0;
    int resets = 0;
    std::array<int, 4> frameClass{};
    int maxEnvelopes = 0;
    std::array<int, 2> ampRes{};       // effective resolution of envelope data
    int freqDelta = 0, timeDelta = 0;  // envelopes and noise floors per direction
    int coupled = 0, independent = 0;  // pair frames
    int sinusoidFrames = 0;
    std::array<int, 4> invfModes{};
    int psFrames = 0, psHeaders = 0;
    std::array<int, 3> psBands{};      // frames with 10/20/34 IID or ICC bands
    int psFine = 0, psCoarse = 0;
    int psVarBorders = 0, psMaxEnvelopes = 0, psIpdOpd = 0;
    int invalidFrames = 0;
    int maxPayloadBytes = 0;
};

class SbrPayloadGenerator {
public:
    explicit SbrPayloadGenerator(const SbrGenOptions& options);

    // One frame's extension payload, at most `maxBytes` bytes (never more
    // than 264): the fill element's data bytes, the extension type in the
    // high nibble of the first byte. Falls back to simpler frames when the
    // budget is tight; returns an empty vector when even the smallest frame
    // does not fit (the caller then sends the block without SBR).
    std::vector<uint8_t> Next(int maxBytes);

    int ExtensionType() const { return options_.crc ? 14 : 13; }
    const SbrGenStats& Stats() const { return stats_; }
    const SbrHeaderFields& Header() const { return state_.header; }
    const SbrBandTables& Tables() const { return state_.tables; }

    struct ChannelState {
        bool havePrev = false;      // envelope/noise history usable for time deltas
        int prevEnd = 0;            // last border of the previous frame minus 16
        int prevAmpRes = -1;
        bool prevBalance = false;   // history holds balance (coupled channel 1) values
        int prevRes = 1;
        std::vector<int> prevEnv;   // last envelope, quantised
        std::vector<int> prevNoise; // last noise floor, quantised
        int level = 0;              // slowly drifting base level (1.5 dB units)
        std::vector<int> prevInvf;
    };
    struct PsState {
        bool started = false;
        int iidMode = 0, iccMode = 0;
        bool enableIid = true, enableIcc = true, enableExt = false;
        bool prevIidValid = false, prevIccValid = false;
        std::vector<int> prevIid, prevIcc;
        bool prevIpdValid = false;
        std::vector<int> prevIpd, prevOpd;
    };
    struct State {
        bool headerSent = false;
        SbrHeaderFields header;
        SbrBandTables tables;
        std::array<ChannelState, 2> ch;
        bool prevCoupled = false;
        PsState ps;
    };

    struct Grid;  // one channel's sbr_grid

private:
    bool Frame(State& s, SbrGenStats& st, int simplicity, int maxBytes, std::vector<uint8_t>* out);
    SbrHeaderFields RandomHeader();
    void WriteGrid(SbrBitWriter& w, const Grid& g);
    bool MakeGrid(ChannelState& c, int simplicity, bool invalid8, Grid* g);
    void WritePs(SbrBitWriter& w, PsState& ps, SbrGenStats& st, int simplicity);

    SbrGenOptions options_;
    std::mt19937 rng_;
    State state_;
    SbrGenStats stats_;
    int frameIndex_ = 0;
};

// ---- AAC-LC raw data block plumbing -------------------------------------

// Bit length of a raw data block without its END element, found as the
// last 1 bit (END is 111 and the byte alignment after it is zero).
// Returns -1 when the block does not end that way.
long BlockBitsBeforeEnd(const std::vector<uint8_t>& block);

// The block with a fill element carrying `payload` (from
// SbrPayloadGenerator::Next) inserted before END; an empty payload returns
// the block unchanged. Returns an empty vector when the block has no END.
std::vector<uint8_t> InsertFillElement(const std::vector<uint8_t>& block,
                                       const std::vector<uint8_t>& payload);

std::vector<uint8_t> WrapPacketStream(const AdtsStream& stream);  // [length][block]...

// Drops blocks above `maxBytes` so that every block, with its SBR data,
// fits a 1-byte length record. Returns how many were dropped.
int DropLargeBlocks(AdtsStream* stream, std::size_t maxBytes);

// Puts one generated payload into every block (no payload where the
// budget is too small for any frame). The result fits an AacPacketStream.
AdtsStream AddSbrPayloads(const AdtsStream& core, SbrPayloadGenerator& gen);

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* out);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& data);

}  // namespace aurivane::test

#endif
