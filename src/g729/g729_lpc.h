// Linear prediction: windowed autocorrelation, Levinson-Durbin, LP <-> LSP
// conversion on the Annex A Chebyshev grid, bandwidth weighting.
#ifndef AURIVANE_G729_G729_LPC_H
#define AURIVANE_G729_G729_LPC_H

namespace aurivane::g729 {

// r[0..10] of the 240-sample buffer under the asymmetric LP window, with
// the r[0] floor and the lag window applied.
void WindowedAutocorrelation(const double* speech240, double r[11]);

// a[0] = 1, a[1..10]; a non-positive prediction error is replaced by 0.001.
void Levinson(const double r[11], double a[11]);

// Roots of the symmetric / antisymmetric polynomials as cosines, decreasing.
// Returns false (lsp untouched) when fewer than ten roots are found.
bool LpcToLsp(const double a[11], double lsp[10]);
void LspToLpc(const double lsp[10], double a[11]);

// Coefficients of A(z / gamma).
void WeightLpc(const double a[11], double gamma, double out[11]);

}  // namespace aurivane::g729

#endif
