// Adaptive codebook: 1/3-resolution interpolation of the past excitation,
// the Annex A decimated open-loop search and the closed-loop search.
#ifndef AURIVANE_G729_G729_PITCH_H
#define AURIVANE_G729_G729_PITCH_H

namespace aurivane::g729 {

// exc[0..n-1] = past excitation at delay t0 + frac/3 (frac in -1..1);
// exc[-(t0 + 11)..-1] must be valid; n <= 80. Works in place for delays below n.
void AdaptiveVector(double* exc, int t0, int frac, int n);

// Open-loop delay of the 80 weighted-speech samples wsp[0..79] (wsp[-143..-1]
// is the history), favouring low delays.
int OpenLoopPitch(const double* wsp);

// Closed-loop search around [tmin, tmax] on the 40-sample subframe; leaves the
// chosen adaptive vector in exc[0..39] and returns the integer delay.
int ClosedLoopPitch(double* exc, const double* target, const double* h, int tmin, int tmax,
                    bool firstSubframe, int* frac);

}  // namespace aurivane::g729

#endif
