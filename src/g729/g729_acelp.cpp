#include "g729/g729_acelp.h"

#include <initializer_list>

#include "g729/g729_filters.h"
#include "g729/g729_frame.h"
#include "g729/g729_tables.h"

namespace aurivane::g729 {

void SharpenSubframe(double* v, int t0, double beta) {
    for (int n = t0; n < kSubframe; ++n) v[n] += beta * v[n - t0];
}

void AcelpSearch(const double* x, const double* h, double code[40], double y[40], int* positions,
                 int* signs) {
    constexpr int L = kSubframe;
    double dn[L], sign[L];
    BackwardFilter(x, h, dn);
    for (int i = 0; i < L; ++i) {
        // The pulse at a position takes the sign of the backward-filtered
        // target, so only magnitudes are searched.
        const double s = dn[i];
        sign[i] = s >= 0.0 ? 1.0 : -1.0;
        dn[i] = s >= 0.0 ? s : -s;
    }
    // rr[i][j] = sum_{n=j}^{39} h[n-i] h[n-j] (i <= j) depends on the lag
    // j - i and on the number of terms 40 - j: running sums per lag, all lags
    // side by side, give one row and its mirror column per step. The signs
    // of the pulses are folded in and the matrix holds 2 rr, the energies'
    // cross terms as they are added: factors of +-1 and +-2 are exact, in
    // any grouping, and so 2(a + b) and 2a + 2b agree. The diagonal is kept
    // apart, undoubled.
    alignas(16) double rr[L][L];
    double diag[L];
    double acc[L] = {};
    for (int m = 0; m < L; ++m) {
        const double hm = h[m];
        const int j = L - 1 - m;  // 40 - j = m + 1 terms
        for (int k = 0; k <= j; ++k) acc[k] += h[m + k] * hm;
        const double sj2 = 2.0 * sign[j];
        for (int i = 0; i <= j; ++i) {
            const double v = acc[j - i] * (sign[i] * sj2);
            rr[j][i] = v;
            rr[i][j] = v;
        }
        diag[j] = acc[0];  // sign squared
    }

    // Positions of track t are t + 5k; track 3 is searched as {3,..,38} and
    // as {4,..,39}, so five tracks of eight.
    constexpr int kTracks = 5, kPerTrack = 8;
    // The two largest |d| of each track (the earlier position on ties): the
    // candidates for the leading pulse of a pair.
    int top[kTracks][2];
    for (int t = 0; t < kTracks; ++t) {
        int first = t, second = t;
        double m = -1.0;
        for (int k = 0; k < kPerTrack; ++k)
            if (dn[t + 5 * k] > m) {
                m = dn[t + 5 * k];
                first = t + 5 * k;
            }
        m = -1.0;
        for (int k = 0; k < kPerTrack; ++k) {
            const int p = t + 5 * k;
            if (p != first && dn[p] > m) {
                m = dn[p];
                second = p;
            }
        }
        top[t][0] = first;
        top[t][1] = second;
    }

    // Depth-first tree search: four searches, each fixing a first pair of
    // tracks (its leading pulse one of the two largest |d| of its track)
    // and then the best second pair exhaustively; the four searches cycle the
    // track order, once for each half {3,8,..,38} and {4,9,..,39} of track 3.
    // Candidates replace the best so far only when strictly better, in the
    // order of the scan.
    double bestSq = -1.0, bestAlp = 1.0;
    int best[4] = {0, 1, 2, 3};
    auto search = [&](int ta, int tb, int tc, int td) {
        double sq = -1.0, alp = 1.0;
        int pa = ta, pb = tb;
        for (int c = 0; c < 2; ++c) {
            const int ia = top[ta][c];
            for (int k = 0; k < kPerTrack; ++k) {
                const int ib = tb + 5 * k;
                const double ps = dn[ia] + dn[ib];
                const double al = diag[ia] + diag[ib] + rr[ia][ib];
                if (alp * ps * ps > sq * al) {
                    sq = ps * ps;
                    alp = al;
                    pa = ia;
                    pb = ib;
                }
            }
        }
        const double ps0 = dn[pa] + dn[pb];
        const double al0 = diag[pa] + diag[pb] + rr[pa][pb];
        // Terms of the fourth pulse that do not depend on the third.
        double dnD[kPerTrack], diagD[kPerTrack], crossD[kPerTrack];
        for (int k = 0; k < kPerTrack; ++k) {
            const int id = td + 5 * k;
            dnD[k] = dn[id];
            diagD[k] = diag[id];
            crossD[k] = rr[id][pa] + rr[id][pb];
        }
        sq = -1.0;
        alp = 1.0;
        int pc = tc, pd = td;
        for (int kc = 0; kc < kPerTrack; ++kc) {
            const int ic = tc + 5 * kc;
            const double ps1 = ps0 + dn[ic];
            const double al1 = al0 + diag[ic] + (rr[ic][pa] + rr[ic][pb]);
            const double* rc = rr[ic];
            for (int k = 0; k < kPerTrack; ++k) {
                const double ps = ps1 + dnD[k];
                const double al = al1 + diagD[k] + (crossD[k] + rc[td + 5 * k]);
                if (alp * ps * ps > sq * al) {
                    sq = ps * ps;
                    alp = al;
                    pc = ic;
                    pd = td + 5 * k;
                }
            }
        }
        if (bestAlp * sq > bestSq * alp) {
            bestSq = sq;
            bestAlp = alp;
            for (int p : {pa, pb, pc, pd}) best[p % 5 == 4 ? 3 : p % 5] = p;
        }
    };
    for (int t3 = 3; t3 <= 4; ++t3) {
        search(2, t3, 0, 1);
        search(t3, 0, 1, 2);
        search(0, 1, 2, t3);
        search(1, 2, t3, 0);
    }

    for (int i = 0; i < L; ++i) code[i] = 0.0;
    int s = 0;
    for (int k = 0; k < 4; ++k) {
        code[best[k]] = sign[best[k]];
        if (sign[best[k]] > 0.0) s |= 1 << k;
    }
    for (int n = 0; n < L; ++n) {
        double acc = 0.0;
        for (int k = 0; k < 4; ++k)
            if (best[k] <= n) acc += sign[best[k]] * h[n - best[k]];
        y[n] = acc;
    }
    *positions = EncodeG729PulsePositions(best);
    *signs = s;
}

void AcelpDecode(int positions, int signs, double code[40]) {
    int pos[4];
    DecodeG729PulsePositions(positions, pos);
    for (int i = 0; i < kSubframe; ++i) code[i] = 0.0;
    for (int k = 0; k < 4; ++k) code[pos[k]] = ((signs >> k) & 1) ? 1.0 : -1.0;
}

}  // namespace aurivane::g729
