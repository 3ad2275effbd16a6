// A plain double-precision FFT for measuring spectra in tests, independent
// of the engine's own transform.
#ifndef AURIVANE_TESTS_SUPPORT_REFERENCE_FFT_H
#define AURIVANE_TESTS_SUPPORT_REFERENCE_FFT_H

#include <complex>
#include <vector>

namespace aurivane::test {

// In-place radix-2 forward transform (negative exponent); the size is a power of two.
void ReferenceFft(std::vector<std::complex<double>>& a);

}  // namespace aurivane::test

#endif
