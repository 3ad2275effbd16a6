// G.729 frame format: the eleven transmitted parameters, their packing into
// 10 bytes (MSB first, ITU-T G.729 bit order), the pitch-delay codes and the
// pitch parity bit.
#ifndef AURIVANE_G729_G729_FRAME_H
#define AURIVANE_G729_G729_FRAME_H

#include <cstdint>

namespace aurivane {

struct G729Parameters {
    // In transmission order; widths 8, 10, 8, 1, 13, 4, 7, 5, 13, 4, 7.
    uint16_t lsp1 = 0;        // MA switch (bit 7) + first-stage index
    uint16_t lsp2 = 0;        // lower (bits 9-5) and upper (bits 4-0) second stage
    uint16_t pitch1 = 0;      // delay code of subframe 1
    uint16_t parity = 0;      // parity of pitch1
    uint16_t positions1 = 0;  // fixed-codebook positions, subframe 1
    uint16_t signs1 = 0;
    uint16_t gains1 = 0;      // GA index (bits 6-4), GB index (bits 3-0)
    uint16_t pitch2 = 0;      // delay code of subframe 2, relative
    uint16_t positions2 = 0;
    uint16_t signs2 = 0;
    uint16_t gains2 = 0;
};

inline constexpr int kG729ParameterBits[11] = {8, 10, 8, 1, 13, 4, 7, 5, 13, 4, 7};

// Values wider than their field are truncated to the field.
void PackG729Frame(const G729Parameters& p, uint8_t* frame10);
G729Parameters UnpackG729Frame(const uint8_t* frame10);

// Parity over the six most significant bits of the 8-bit delay code.
int G729PitchParity(int pitch1Code);

struct G729PitchDelay {
    int integer = 0;
    int fraction = 0;  // -1, 0, +1 thirds
};

// Subframe 1: T in 20..85 with fraction (85 only with 0), 86..143 integer.
int EncodeG729PitchDelay1(G729PitchDelay d);
G729PitchDelay DecodeG729PitchDelay1(int code);

// The subframe-2 search window [tmin, tmax] around subframe 1's integer delay.
struct G729PitchWindow {
    int tmin = 0;
    int tmax = 0;
};
G729PitchWindow G729Subframe2Window(int t1);
int EncodeG729PitchDelay2(G729PitchDelay d, int t1);
G729PitchDelay DecodeG729PitchDelay2(int code, int t1);

// Pulse positions of the 17-bit algebraic code (13 position bits).
void DecodeG729PulsePositions(int positions, int pos[4]);
int EncodeG729PulsePositions(const int pos[4]);

}  // namespace aurivane

#endif
