// Parametric stereo mixing matrices: the covariance each one produces from
// a unit-power mono signal s and its uncorrelated decorrelation d.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "aacdec/ps_decoder.h"
#include "dsp/ps_tables.h"
#include "sbr/sbr_test_util.h"

namespace aurivane {
namespace {

struct Covariance {
    double left, right, corr;
};

// left = h11 s + h21 d, right = h12 s + h22 d with E[s d] = 0.
Covariance Of(const float* h) {
    const double pl = h[0] * h[0] + h[2] * h[2];
    const double pr = h[1] * h[1] + h[3] * h[3];
    return {pl, pr, (h[0] * h[1] + h[2] * h[3]) / std::sqrt(pl * pr)};
}

// The quantisation grids of ISO/IEC 14496-3 (IID in dB, default and fine;
// ICC rho), read from the shared normative tables.
struct PsGrids {
    std::vector<double> iidDefault, iidFine, iccRho;
};
PsGrids GridsFromTables() {
    const std::string json = sbrtest::ReadTable("ps_tables.json");
    return {sbrtest::ArrayOf(json, "iid_default_db", "values"), sbrtest::ArrayOf(json, "iid_fine_db", "values"),
            sbrtest::ArrayOf(json, "icc_rho", "values")};
}

// Every quantised IID and ICC of both grids, as the decoder looks them up:
// its tables hold the normative values, the channel powers follow the IID,
// their sum is twice the mono power, and procedure A reproduces the ICC
// while procedure B reproduces it floored at 0.05.
TEST(PsMixing, MatricesRealiseTheTransmittedLevelsAndCorrelation) {
    const PsGrids grids = GridsFromTables();
    if (grids.iccRho.empty()) GTEST_SKIP() << "shared tables not found under " << AURIVANE_SHARED_DIR;
    ASSERT_EQ(grids.iidDefault.size(), 15u);
    ASSERT_EQ(grids.iidFine.size(), 31u);
    ASSERT_EQ(grids.iccRho.size(), 8u);
    for (int k = 0; k < 8; ++k) EXPECT_FLOAT_EQ(kPsIccRho[k], static_cast<float>(grids.iccRho[k])) << "ICC " << k;
    for (bool procedureB : {false, true}) {
        for (int fine = 0; fine < 2; ++fine) {
            const std::vector<double>& iid = fine ? grids.iidFine : grids.iidDefault;
            for (std::size_t i = 0; i < iid.size(); ++i) {
                const double db = iid[i];
                EXPECT_FLOAT_EQ(fine ? kPsIidFineDb[i] : kPsIidDefaultDb[i], static_cast<float>(db));
                for (int k = 0; k < 8; ++k) {
                    float h[4];
                    PsMixingMatrix(fine ? kPsIidFineDb[i] : kPsIidDefaultDb[i], kPsIccRho[k], procedureB, h);
                    const Covariance c = Of(h);
                    SCOPED_TRACE(::testing::Message() << "B " << procedureB << " iid " << db << " icc " << k);
                    EXPECT_NEAR(c.left + c.right, 2.0, 1e-5);
                    EXPECT_NEAR(10.0 * std::log10(c.left / c.right), db, 0.01 + std::fabs(db) * 1e-4);
                    const double rho = procedureB ? std::max(grids.iccRho[k], 0.05) : grids.iccRho[k];
                    // At 50 dB the quiet channel's correlation is ill-conditioned in float.
                    if (std::fabs(db) < 40) {
                        EXPECT_NEAR(c.corr, rho, 2e-3);
                    }
                    if (procedureB) {
                        // The principal axis (cos alpha, sin alpha) lies in the first quadrant.
                        EXPECT_GE(h[0], 0.0f);
                        EXPECT_GE(h[1], 0.0f);
                    }
                }
            }
        }
    }
}

// Procedure B at equal levels: alpha = pi/4 and cos(2 gamma) = max(rho,
// 0.05), so negative correlations all give the matrix of 0.05.
TEST(PsMixing, ProcedureBFloorsNegativeCorrelation) {
    const double g = 0.5 * std::acos(0.05);
    for (double rho : {0.0, -0.589, -1.0}) {
        float h[4];
        PsMixingMatrix(0.0, rho, true, h);
        EXPECT_NEAR(h[0], std::cos(g), 1e-6) << rho;
        EXPECT_NEAR(h[1], std::cos(g), 1e-6) << rho;
        EXPECT_NEAR(h[2], -std::sin(g), 1e-6) << rho;
        EXPECT_NEAR(h[3], std::sin(g), 1e-6) << rho;
    }
    // A louder left channel: the left channel takes the larger share of s.
    float h[4];
    PsMixingMatrix(10.0, -1.0, true, h);
    EXPECT_GT(h[0], h[1]);
    EXPECT_GT(h[3], -h[2]);
}

// A block with one envelope of coarse IID index `iid` in every band (ICC
// off, so the channels are scaled copies of the mono signal).
sbrtest::BitWriter IidBlock(int iidMode, int iid) {
    sbrtest::BitWriter w;
    w.Put(1, 1);  // enable_ps_header
    w.Put(1, 1);  // enable_iid
    w.Put(static_cast<uint32_t>(iidMode), 3);
    w.Put(0, 1);  // enable_icc
    w.Put(0, 1);  // enable_ext
    w.Put(0, 1);  // frame_class
    w.Put(1, 2);  // one envelope
    w.Put(0, 1);  // frequency direction
    const HuffmanBook& df = kPsHuffmanBooks[kPsBookIidDf];
    w.PutCode(df, iid);
    for (int b = 1; b < (iidMode == 2 ? 34 : 20); ++b) w.PutCode(df, 0);
    return w;
}

// Switching between the 20- and 34-band hybrid configurations keeps the
// level difference: the mixing interpolates from the previous matrices
// carried over to the new bands, not from identity.
TEST(PsMixing, ConfigurationSwitchKeepsTheLevelDifference) {
    PsDecoder ps;
    ps.Reset();
    static float re[32][64], im[32][64], rRe[32][64], rIm[32][64], low[40][32], lowIm[40][32];
    const std::vector<double> iid = GridsFromTables().iidDefault;
    if (iid.empty()) GTEST_SKIP() << "shared tables not found under " << AURIVANE_SHARED_DIR;
    const double expectDb = iid[7 + 5];
    int frame = 0;
    for (int mode : {1, 1, 2, 2, 1}) {
        const sbrtest::BitWriter w = IidBlock(mode, 5);
        const std::vector<uint8_t> bytes = w.Bytes();
        SbrBitReader br;
        br.Init(bytes.data(), w.Bits());
        ASSERT_EQ(ps.Parse(br, w.Bits()), w.Bits());
        // A tone in plain QMF band 20.
        for (int n = 0; n < 32; ++n) {
            for (int k = 0; k < 64; ++k) re[n][k] = im[n][k] = 0.0f;
            const double ph = 0.7 * (32 * frame + n);
            re[n][20] = static_cast<float>(std::cos(ph));
            im[n][20] = static_cast<float>(std::sin(ph));
        }
        ps.Apply(re, im, low, lowIm, rRe, rIm);
        EXPECT_EQ(ps.Uses34Bands(), mode == 2);
        if (frame > 0) {
            for (int n = 0; n < 32; ++n) {
                const double l = re[n][20] * re[n][20] + im[n][20] * im[n][20];
                const double r = rRe[n][20] * rRe[n][20] + rIm[n][20] * rIm[n][20];
                EXPECT_NEAR(10.0 * std::log10(l / r), expectDb, 0.05) << "frame " << frame << " slot " << n;
            }
        }
        ++frame;
    }
}

// IID and ICC both switched off carry no parameter resolution: the hybrid
// configuration stays as it was (as ffmpeg keeps it) instead of falling back
// to 20 bands and restarting the decorrelator for an identity mix.
TEST(PsMixing, BlocksWithoutIidAndIccKeepTheConfiguration) {
    PsDecoder ps;
    ps.Reset();
    static float re[32][64], im[32][64], rRe[32][64], rIm[32][64], low[40][32], lowIm[40][32];
    sbrtest::BitWriter off;
    off.Put(1, 1);  // enable_ps_header
    off.Put(0, 1);  // enable_iid
    off.Put(0, 1);  // enable_icc
    off.Put(0, 1);  // enable_ext
    off.Put(0, 1);  // frame_class
    off.Put(1, 2);  // one envelope, without data
    struct Step {
        sbrtest::BitWriter block;
        bool use34;
    };
    const Step steps[] = {{IidBlock(2, 0), true}, {off, true}, {off, true}, {IidBlock(1, 0), false}, {off, false}};
    for (const Step& step : steps) {
        const std::vector<uint8_t> bytes = step.block.Bytes();
        SbrBitReader br;
        br.Init(bytes.data(), step.block.Bits());
        ASSERT_EQ(ps.Parse(br, step.block.Bits()), step.block.Bits());
        ps.Apply(re, im, low, lowIm, rRe, rIm);
        EXPECT_EQ(ps.Uses34Bands(), step.use34);
    }
}

}  // namespace
}  // namespace aurivane
