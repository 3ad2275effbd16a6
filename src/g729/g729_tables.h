// Tables and constants of ITU-T G.729 / Annex A in floating point. The
// arrays are generated into g729_tables.cpp by tools/gen/g729_tables.py.
#ifndef AURIVANE_G729_G729_TABLES_H
#define AURIVANE_G729_G729_TABLES_H

namespace aurivane::g729 {

inline constexpr int kOrder = 10;           // M, LP order
inline constexpr int kFrame = 80;           // L_FRAME
inline constexpr int kSubframe = 40;        // L_SUBFR
inline constexpr int kWindow = 240;         // L_WINDOW
inline constexpr int kPitchMin = 20;        // PIT_MIN
inline constexpr int kPitchMax = 143;       // PIT_MAX
inline constexpr int kInterpHalf = 10;      // L_INTER10
inline constexpr int kUpSamp = 3;           // UP_SAMP
inline constexpr int kExcHistory = kPitchMax + kInterpHalf + 1;  // 154
inline constexpr int kMaOrder = 4;          // MA_NP
inline constexpr int kLspCb1Size = 128;     // NC0
inline constexpr int kLspCb2Size = 32;      // NC1
inline constexpr int kLspHalf = 5;          // NC
inline constexpr int kGainCb1Size = 8;      // NCODE1
inline constexpr int kGainCb2Size = 16;     // NCODE2
inline constexpr int kGainCand1 = 4;        // NCAN1
inline constexpr int kGainCand2 = 8;        // NCAN2
inline constexpr int kGridPoints = 50;      // Annex A grid intervals
inline constexpr int kPostImpulse = 22;     // L_H

inline constexpr double kGamma = 0.75;          // perceptual weighting
inline constexpr double kTiltWeight = 0.7;      // weighted-speech tilt of A'(z)
inline constexpr double kLsfLow = 0.005;        // L_LIMIT
inline constexpr double kLsfHigh = 3.135;       // M_LIMIT
inline constexpr double kGap1 = 0.0012;
inline constexpr double kGap2 = 0.0006;
inline constexpr double kGap3 = 0.0392;
inline constexpr double kPi04 = 0.12566370616;  // 0.04 pi
inline constexpr double kPi92 = 2.89026524168;  // 0.92 pi
inline constexpr double kConst12 = 1.2;
inline constexpr double kSharpMax = 0.7945;
inline constexpr double kSharpMin = 0.2;
inline constexpr double kGainPitchMax = 1.2;
inline constexpr double kMeanEnergy = 36.0;     // dB
inline constexpr double kInvCoef = -0.032623;
inline constexpr double kGpClip = 0.95;
inline constexpr double kGpClip2 = 0.94;
inline constexpr double kGp0999 = 0.9999;
inline constexpr double kThreshErr = 60000.0;
inline constexpr double kGammaNum = 0.55;       // post-filter gamma_n
inline constexpr double kGammaDen = 0.70;       // post-filter gamma_d
inline constexpr double kGammaP = 0.5;
inline constexpr double kTiltMu = 0.8;
inline constexpr double kAgcFactor = 0.9;

extern const double kLpWindow[240];
extern const double kLagWindow[11];   // [0] = white-noise correction
extern const double kLspGrid[51];
extern const double kLspCb1[128][10];
extern const double kLspCb2[32][10];
extern const double kLspMaPred[2][4][10];
extern const double kLspMaPredSum[2][10];
extern const double kLspMaPredSumInv[2][10];
extern const double kInterp3[31];
extern const double kGainPred[4];
extern const double kGainCb1[8][2];   // [pitch gain, code-gain factor]
extern const double kGainCb2[16][2];
extern const int kGainMap1[8];
extern const int kGainMap2[16];
extern const int kGainInvMap1[8];
extern const int kGainInvMap2[16];
extern const double kGainThr1[4];
extern const double kGainThr2[8];
extern const double kGainPreselCoef[2][2];
extern const double kPreProcB[3];
extern const double kPreProcA[3];     // a[1], a[2] carry the feedback sign
extern const double kPostProcB[3];
extern const double kPostProcA[3];
extern const int kFieldBits[11];
extern const double kLspInit[10];
extern const double kLsfInit[10];
extern const double kGainMemInit[4];

}  // namespace aurivane::g729

#endif
