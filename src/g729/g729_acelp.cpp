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
    // rr[i][j] = sum_{n=j}^{39} h[n-i] h[n-j] depends on j - i and on the
    // number of terms 40 - j, so running sums per lag give the whole matrix.
    double rr[L][L];
    for (int k = 0; k < L; ++k) {
        double acc = 0.0;
        for (int m = 0; m + k < L; ++m) {
            acc += h[m + k] * h[m];
            const int j = L - 1 - m;  // 40 - j = m + 1 terms
            const int i = j - k;
            const double v = acc * sign[i] * sign[j];
            rr[i][j] = v;
            rr[j][i] = v;
        }
    }

    // Depth-first tree search: four searches, each fixing a first pair of
    // tracks (its leading pulse limited to the two largest |d| of its track)
    // and then the best second pair exhaustively; the four searches cycle the
    // track order, once for each half {3,8,..,38} and {4,9,..,39} of track 3.
    struct Track {
        int pos[8];
    };
    Track tracks[5];  // 0, 1, 2, 3 (3 + 5k), 4 (4 + 5k)
    for (int t = 0; t < 5; ++t)
        for (int k = 0; k < 8; ++k) tracks[t].pos[k] = t + 5 * k;

    double bestSq = -1.0, bestAlp = 1.0;
    int best[4] = {0, 1, 2, 3};
    auto search = [&](const Track& ta, const Track& tb, const Track& tc, const Track& td) {
        double sq = -1.0, alp = 1.0;
        int pa = ta.pos[0], pb = tb.pos[0];
        int prev = -1;
        for (int c = 0; c < 2; ++c) {
            double m = -1.0;
            int ia = ta.pos[0];
            for (int p : ta.pos)
                if (dn[p] > m && p != prev) {
                    m = dn[p];
                    ia = p;
                }
            prev = ia;
            for (int ib : tb.pos) {
                const double ps = dn[ia] + dn[ib];
                const double al = rr[ia][ia] + rr[ib][ib] + 2.0 * rr[ia][ib];
                if (alp * ps * ps > sq * al) {
                    sq = ps * ps;
                    alp = al;
                    pa = ia;
                    pb = ib;
                }
            }
        }
        const double ps0 = dn[pa] + dn[pb];
        const double al0 = rr[pa][pa] + rr[pb][pb] + 2.0 * rr[pa][pb];
        sq = -1.0;
        alp = 1.0;
        int pc = tc.pos[0], pd = td.pos[0];
        for (int ic : tc.pos) {
            const double ps1 = ps0 + dn[ic];
            const double al1 = al0 + rr[ic][ic] + 2.0 * (rr[ic][pa] + rr[ic][pb]);
            for (int id : td.pos) {
                const double ps = ps1 + dn[id];
                const double al = al1 + rr[id][id] + 2.0 * (rr[id][pa] + rr[id][pb] + rr[id][ic]);
                if (alp * ps * ps > sq * al) {
                    sq = ps * ps;
                    alp = al;
                    pc = ic;
                    pd = id;
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
        search(tracks[2], tracks[t3], tracks[0], tracks[1]);
        search(tracks[t3], tracks[0], tracks[1], tracks[2]);
        search(tracks[0], tracks[1], tracks[2], tracks[t3]);
        search(tracks[1], tracks[2], tracks[t3], tracks[0]);
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
