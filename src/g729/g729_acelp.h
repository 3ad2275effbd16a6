// 17-bit algebraic codebook: four signed unit pulses on the tracks
// {0,5,..,35}, {1,6,..,36}, {2,7,..,37} and {3,8,..,38} u {4,9,..,39}.
#ifndef AURIVANE_G729_G729_ACELP_H
#define AURIVANE_G729_G729_ACELP_H

namespace aurivane::g729 {

// v[n] += beta v[n - t0] for n = t0..39 (pitch sharpening of a code vector
// or of an impulse response).
void SharpenSubframe(double* v, int t0, double beta);

// Depth-first tree search of G.729 Annex A for the target x with the
// (already sharpened) impulse response h. Writes the unsharpened code vector
// and its filtered version y = code * h.
void AcelpSearch(const double* x, const double* h, double code[40], double y[40], int* positions,
                 int* signs);

void AcelpDecode(int positions, int signs, double code[40]);

}  // namespace aurivane::g729

#endif
