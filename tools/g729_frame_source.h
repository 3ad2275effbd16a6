// Which G.729 frames reach the decoder: the ITU serial bitstream (.bit),
// whose erased frames are marked by all-zero bit words, and a seeded
// frame-loss pattern that drops frames of a 10-byte frame stream the way a
// lossy network does. Header only: the program and the tests share it.
#ifndef AURIVANE_TOOLS_G729_FRAME_SOURCE_H
#define AURIVANE_TOOLS_G729_FRAME_SOURCE_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace aurivane::cli {

// Per frame: the sync word 0x6B21, the bit count 80, then 80 words, 0x007F
// for a 0 bit and 0x0081 for a 1 bit, all little-endian. A frame whose 80
// words are all 0x0000 is erased.
inline constexpr std::size_t kItuRecordBytes = 2 * 82;

// True when the whole file is a sequence of such records.
inline bool IsItuBitstream(const std::vector<uint8_t>& file) {
    if (file.empty() || file.size() % kItuRecordBytes != 0) return false;
    auto word = [&](std::size_t at) { return static_cast<uint16_t>(file[at] | (file[at + 1] << 8)); };
    for (std::size_t base = 0; base < file.size(); base += kItuRecordBytes) {
        if (word(base) != 0x6B21 || word(base + 2) != 80) return false;
        bool erased = true, coded = true;
        for (std::size_t b = 0; b < 80; ++b) {
            const uint16_t w = word(base + 4 + 2 * b);
            erased = erased && w == 0;
            coded = coded && (w == 0x007F || w == 0x0081);
        }
        if (!erased && !coded) return false;
    }
    return true;
}

// Packs the records of a file IsItuBitstream accepts into 10-byte frames
// (most significant bit first) and marks the erased ones.
inline void ReadItuBitstream(const std::vector<uint8_t>& file, std::vector<uint8_t>* frames,
                             std::vector<bool>* erased) {
    const std::size_t count = file.size() / kItuRecordBytes;
    frames->assign(count * 10, 0);
    erased->assign(count, false);
    for (std::size_t f = 0; f < count; ++f) {
        const uint8_t* bits = file.data() + f * kItuRecordBytes + 4;
        bool zero = true;
        for (int b = 0; b < 80; ++b) {
            if (bits[2 * b] != 0) zero = false;
            if (bits[2 * b] == 0x81) (*frames)[10 * f + b / 8] |= static_cast<uint8_t>(0x80 >> (b % 8));
        }
        (*erased)[f] = zero;
    }
}

// Losses come in bursts of burst frames on average: a burst of one frame
// for burst 1, else a length drawn evenly from burst - 1 to burst + 1. After
// each received frame a burst starts with the probability that makes the
// long-run share of lost frames percent / 100. The generator is a 64-bit
// linear congruential one, so a seed gives the same pattern on every
// platform and library.
class FrameLossPattern {
public:
    // Largest loss share for a mean burst: at least one frame between bursts.
    static double MaxPercent(int burst) { return 100.0 * burst / (burst + 1.0); }

    FrameLossPattern(double percent, int burst, uint64_t seed)
        : burst_(burst < 1 ? 1 : burst), state_(seed * 2 + 1) {
        const double p = percent / 100.0;
        start_ = p <= 0.0 ? 0.0 : p >= 1.0 ? 1.0 : p / (burst_ * (1.0 - p));
    }

    // Whether the next frame is lost.
    bool NextLost() {
        if (left_ > 0) {
            --left_;
            return true;
        }
        if (lastLost_ || Uniform() >= start_) {
            lastLost_ = false;
            return false;
        }
        const int length = burst_ == 1 ? 1 : burst_ - 1 + static_cast<int>(Uniform() * 3.0);
        left_ = length - 1;
        lastLost_ = true;
        return true;
    }

    // The pattern of the next frames.
    std::vector<bool> Take(std::size_t frames) {
        std::vector<bool> lost(frames);
        for (std::size_t i = 0; i < frames; ++i) lost[i] = NextLost();
        return lost;
    }

private:
    double Uniform() {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state_ >> 11) * 0x1.0p-53;
    }

    int burst_;
    uint64_t state_;
    double start_ = 0.0;
    int left_ = 0;
    bool lastLost_ = false;
};

}  // namespace aurivane::cli

#endif
