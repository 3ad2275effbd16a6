// In-place, unnormalised complex FFT shared by the decoder and the encoders,
// with the MDCT rotation table and the small base-2 logarithm table.
#ifndef AURIVANE_DSP_FFT_H
#define AURIVANE_DSP_FFT_H

#include <cstdint>

namespace aurivane {

// Mixed-radix FFT of arbitrary length. Element k is at index k*|isn| of re
// and im; isn < 0 uses the exponent -2*pi*i*jk/n, isn > 0 the positive one.
// For a single transform ntot == n == nspan == the length. Returns 1 on
// success, 0 for a length below 2 or one the factoriser cannot handle.
int FftMixedRadix(float* re, float* im, int ntot, int n, int nspan, int isn);

// n complex values interleaved (re, im, re, ...); sign -1 or +1.
int FftInterleaved(float* data, int n, int sign);
int FftSplit(float* re, float* im, int n, int isn);
int FftSplitCopy(const float* reIn, const float* imIn, float* reOut, float* imOut, int n, int isn);

// For callers that can write their input straight into place: the forward
// (negative exponent) transform of n = 2^k values, 2 <= n <= 4096, whose
// element j the caller stored at index FftBitReverse(j, n) of re and im.
// The result is in natural order. Returns 0 for other lengths.
int FftBitReverse(int j, int n);
int FftForwardBitReversed(float* re, float* im, int n);

// sin(2*pi*n/2048) for n = 0..512: the quarter wave the MDCT pre- and
// post-rotations index with steps of 1 (2048-sample blocks) or 8 (256).
extern const float kRotationTable[513];

// Base-2 logarithms: entry 0 is -1, entry i (1..64) is log2(i).
void Log2Init();
float Log2(int i);
// Log2(b) - Log2(a), each rounded to single precision first.
float Log2Difference(int a, int b);

}  // namespace aurivane

#endif
