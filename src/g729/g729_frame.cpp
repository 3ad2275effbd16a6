#include "g729/g729_frame.h"

namespace aurivane {

void PackG729Frame(const G729Parameters& p, uint8_t* frame10) {
    const uint16_t v[11] = {p.lsp1,  p.lsp2,       p.pitch1, p.parity,     p.positions1, p.signs1,
                            p.gains1, p.pitch2,    p.positions2, p.signs2, p.gains2};
    uint32_t acc = 0;
    int pending = 0;
    int out = 0;
    for (int i = 0; i < 11; ++i) {
        const int w = kG729ParameterBits[i];
        acc = (acc << w) | (v[i] & ((1u << w) - 1u));
        pending += w;
        while (pending >= 8) {
            pending -= 8;
            frame10[out++] = static_cast<uint8_t>(acc >> pending);
        }
        acc &= (1u << pending) - 1u;
    }
}

G729Parameters UnpackG729Frame(const uint8_t* frame10) {
    // The 80 bits as one big-endian number: each field is a shift and a mask.
    uint64_t hi = 0;
    for (int i = 0; i < 8; ++i) hi = (hi << 8) | frame10[i];
    const uint64_t lo = (static_cast<uint64_t>(frame10[8]) << 8) | frame10[9];
    uint16_t v[11];
    int left = 80;  // bits not yet taken
    for (int i = 0; i < 11; ++i) {
        const int w = kG729ParameterBits[i];
        left -= w;
        // Bits [left, left + w) of the 80, counted from the least significant.
        uint64_t x;
        if (left >= 16)
            x = hi >> (left - 16);
        else if (left + w <= 16)
            x = lo >> left;
        else
            x = (hi << (16 - left)) | (lo >> left);
        v[i] = static_cast<uint16_t>(x & ((1u << w) - 1u));
    }
    G729Parameters p;
    p.lsp1 = v[0];
    p.lsp2 = v[1];
    p.pitch1 = v[2];
    p.parity = v[3];
    p.positions1 = v[4];
    p.signs1 = v[5];
    p.gains1 = v[6];
    p.pitch2 = v[7];
    p.positions2 = v[8];
    p.signs2 = v[9];
    p.gains2 = v[10];
    return p;
}

int G729PitchParity(int pitch1Code) {
    int sum = 1;
    for (int b = 2; b <= 7; ++b) sum += (pitch1Code >> b) & 1;
    return sum & 1;
}

int EncodeG729PitchDelay1(G729PitchDelay d) {
    if (d.integer <= 85) return 3 * d.integer - 58 + d.fraction;
    return d.integer + 112;
}

G729PitchDelay DecodeG729PitchDelay1(int code) {
    G729PitchDelay d;
    if (code <= 196) {
        d.integer = (code + 2) / 3 + 19;
        d.fraction = (code + 2) % 3 - 1;
    } else {
        d.integer = code - 112;
        d.fraction = 0;
    }
    return d;
}

G729PitchWindow G729Subframe2Window(int t1) {
    G729PitchWindow w;
    w.tmin = t1 - 5;
    if (w.tmin < 20) w.tmin = 20;
    w.tmax = w.tmin + 9;
    if (w.tmax > 143) {
        w.tmax = 143;
        w.tmin = 134;
    }
    return w;
}

int EncodeG729PitchDelay2(G729PitchDelay d, int t1) {
    return 3 * (d.integer - G729Subframe2Window(t1).tmin) + d.fraction + 2;
}

G729PitchDelay DecodeG729PitchDelay2(int code, int t1) {
    G729PitchDelay d;
    d.integer = (code + 2) / 3 - 1 + G729Subframe2Window(t1).tmin;
    d.fraction = (code + 2) % 3 - 1;
    return d;
}

void DecodeG729PulsePositions(int positions, int pos[4]) {
    pos[0] = 5 * (positions & 7);
    pos[1] = 5 * ((positions >> 3) & 7) + 1;
    pos[2] = 5 * ((positions >> 6) & 7) + 2;
    pos[3] = 5 * ((positions >> 10) & 7) + 3 + ((positions >> 9) & 1);
}

int EncodeG729PulsePositions(const int pos[4]) {
    return (pos[0] / 5) | ((pos[1] / 5) << 3) | ((pos[2] / 5) << 6) | ((pos[3] % 5 - 3) << 9) |
           ((pos[3] / 5) << 10);
}

}  // namespace aurivane
