// AAC-LC streams of "aurivane encode --codec aac-lc" judged by independent
// decoders and by what a listener gets, side by side with ffmpeg's encoder.
#include "enc_harness.h"

#include "aacenc/aac_psy_model.h"
#include "aacinterop/aac_peers.h"
#include "aacinterop/our_decoder.h"
#include "sbrinterop/sbr_harness.h"
#include "support/speech_measures.h"
#include "wav_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace aurivane::enctest {
namespace {

using aactest::PeerPcm;

// The bitrate the program settled on (it clamps into the core's range).
int EncodedBitrate(const std::string& summary) {
    const std::size_t at = summary.find(" at ");
    return at == std::string::npos ? 0 : std::atoi(summary.c_str() + at + 4);
}

bool NeedPeers() { return aactest::HaveProgram("ffmpeg") && aactest::HaveProgram("faad") && HaveTools(); }

struct LcCase {
    const char* kind;
    int rate;
    int bitrate;  // asked for; the program clamps 1 and 999999 to the ends
};

void PrintTo(const LcCase& c, std::ostream* os) { *os << c.kind << "_" << c.rate << "_" << c.bitrate; }

std::vector<LcCase> SyntaxCases() {
    std::vector<LcCase> cases;
    for (const char* kind : {"speech", "music", "pink", "white", "clicks", "sweep", "tone", "silence", "lsb", "square",
                             "dc", "nyquist"}) {
        cases.push_back({kind, 22050, 32000});
    }
    for (int rate : {16000, 24000}) {
        for (int bitrate : {1, 999999}) {
            for (const char* kind : {"speech", "music", "clicks", "square", "nyquist"}) cases.push_back({kind, rate, bitrate});
        }
    }
    for (int rate : {11025, 12000}) cases.push_back({"music", rate, 32000});
    return cases;
}

class LcSyntax : public ::testing::TestWithParam<LcCase> {};

// Every stream decodes in ffmpeg and faad without a word on stderr, in our
// decoder with status 0 on every frame, and ours agrees with ffmpeg's
// float output within one LSB (a larger difference is a syntax fault).
TEST_P(LcSyntax, PeersAndOursDecodeAlike) {
    if (!NeedPeers()) GTEST_SKIP() << "ffmpeg, faad, sox or espeak-ng missing";
    const LcCase c = GetParam();
    std::string error;
    const std::string wav = MakeItem(c.kind, c.rate, 1, 2.0, &error);
    ASSERT_FALSE(wav.empty()) << error;
    char name[96];
    std::snprintf(name, sizeof name, "lc_%s_%d_%d.aac", c.kind, c.rate, c.bitrate);
    const std::string aac = WorkFile(name);
    std::string summary;
    ASSERT_TRUE(RunCli("encode --codec aac-lc --bitrate " + std::to_string(c.bitrate) + " " + Quote(wav) + " " +
                           Quote(aac), &summary, &error)) << error;
    PeerPcm peer;
    ASSERT_TRUE(FfmpegDecodeQuiet(aac, 1, &peer, &error)) << error;
    WavData faad;
    EXPECT_TRUE(FaadDecodeQuiet(aac, &faad, &error)) << error;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(aactest::ReadBytes(aac, &bytes));
    aactest::OurPcm ours;
    ASSERT_TRUE(aactest::CoreDecodeAdts(bytes, &ours, &error)) << error;
    for (std::size_t f = 0; f < ours.statuses.size(); ++f) ASSERT_EQ(ours.statuses[f], 0) << "frame " << f;
    const aactest::Comparison cmp = aactest::CompareDelayed(peer, ours);
    aactest::RecordSnr(std::string(name) + " @" + std::to_string(EncodedBitrate(summary)), "ffmpeg f32", cmp.snrDb,
                       cmp.maxDiff, cmp.frames);
    EXPECT_GE(cmp.frames, static_cast<std::size_t>(2 * c.rate / 1024 - 2));
    EXPECT_LE(cmp.maxDiff, 1.0) << "SNR " << cmp.snrDb << " dB";
}

INSTANTIATE_TEST_SUITE_P(Items, LcSyntax, ::testing::ValuesIn(SyntaxCases()));

class LcRate : public ::testing::TestWithParam<LcCase> {};

// Over 10 s the payload rate (ADTS headers excluded) keeps to the target
// at both ends and the middle of what the core accepts: every prefix of the
// stream stays within the bit reservoir of the mean frame. The reservoir
// starts full, so at the lowest bitrates its 5.8 kbit make the 10-s mean
// several percent high (the table shows by how much).
TEST_P(LcRate, PayloadRateKeepsToTheReservoir) {
    if (!HaveTools()) GTEST_SKIP() << "sox or espeak-ng missing";
    const LcCase c = GetParam();
    std::string error;
    const std::string wav = MakeItem(c.kind, c.rate, 1, 10.0, &error);
    ASSERT_FALSE(wav.empty()) << error;
    const std::string aac = WorkFile("lc_rate_" + std::string(c.kind) + "_" + std::to_string(c.rate) + "_" +
                                     std::to_string(c.bitrate) + ".aac");
    std::string summary;
    ASSERT_TRUE(RunCli("encode --codec aac-lc --bitrate " + std::to_string(c.bitrate) + " " + Quote(wav) + " " +
                           Quote(aac), &summary, &error)) << error;
    const int target = EncodedBitrate(summary);
    ASSERT_GT(target, 0) << summary;
    int rate = 0;
    const std::vector<std::size_t> sizes = AdtsPayloadSizes(aac, &rate);
    ASSERT_EQ(rate, c.rate);
    ASSERT_GT(sizes.size(), 100u);
    double bytes = 0;
    std::size_t largest = 0;
    for (std::size_t s : sizes) {
        bytes += double(s);
        largest = std::max(largest, s);
    }
    const double bps = bytes * 8.0 * c.rate / (1024.0 * double(sizes.size()));
    const long excess = CheckReservoir(sizes, target, c.rate, 768, &error);
    EXPECT_GE(excess, 0) << error;
    char row[160];
    std::snprintf(row, sizeof row, "%-6s %6d %8d %10.1f %+7.2f %8zu %8zu %9ld", c.kind, c.rate, target, bps,
                  100.0 * (bps / target - 1.0), sizes.size(), largest, excess);
    AddTableRow("AAC-LC payload rate over 10 s",
                "item   rate   target   measured  err %   frames  largest  max excess bits", row);
}

std::vector<LcCase> RateCases() {
    std::vector<LcCase> cases;
    for (int rate : {16000, 22050, 24000}) {
        for (int bitrate : {1, 24000, 999999}) cases.push_back({"music", rate, bitrate});
    }
    cases.push_back({"speech", 22050, 32000});
    cases.push_back({"white", 22050, 32000});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Ends, LcRate, ::testing::ValuesIn(RateCases()));

// Ours and ffmpeg's native encoder at the same rate, channels and bitrate,
// both decoded by ffmpeg and measured against the input.
struct Measured {
    double segSnr = 0, lsd = 0, bandwidth = 0, levelDiff = 0, nmr = 0;
};

// Noise-to-mask ratio in dB with our own psychoacoustic model: the coding
// error's band energies over the input's masking thresholds, averaged
// (linearly) over the bands where the input rises above its threshold, in
// the frames where both the input and the error get long windows.
double NoiseToMaskDb(const std::vector<int16_t>& ref, const std::vector<int16_t>& out, int rate, int bitrate) {
    auto input = std::make_unique<AacPsyModel>(), error = std::make_unique<AacPsyModel>();
    if (input->Open(rate, bitrate, 1, rate / 2, 3) != 0 || error->Open(rate, bitrate, 1, rate / 2, 3) != 0) return NAN;
    auto a = std::make_unique<PsyOutput>(), b = std::make_unique<PsyOutput>();
    std::vector<float> x(1024), e(1024);
    double sum = 0;
    long bands = 0;
    for (std::size_t f = 0; (f + 1) * 1024 <= ref.size(); ++f) {
        for (std::size_t i = 0; i < 1024; ++i) {
            x[i] = ref[f * 1024 + i];
            e[i] = float(out[f * 1024 + i]) - float(ref[f * 1024 + i]);
        }
        input->Analyse(x.data(), 1, a.get());
        error->Analyse(e.data(), 1, b.get());
        if (a->windowSequence == kAacShortWindow || b->windowSequence == kAacShortWindow) continue;
        for (int band = 0; band < a->sfbCnt && band < b->sfbCnt; ++band) {
            if (a->sfbThreshold[band] <= 0 || a->sfbEnergy[band] <= a->sfbThreshold[band]) continue;
            sum += std::max(double(b->sfbEnergy[band]), 1e-9) / a->sfbThreshold[band];
            ++bands;
        }
    }
    return bands ? 10 * std::log10(sum / double(bands)) : NAN;
}

Measured MeasureDecoded(const std::vector<int16_t>& input, const std::string& aac, int rate, int bitrate,
                        std::string* error) {
    Measured m;
    PeerPcm d;
    if (!FfmpegDecodeQuiet(aac, 1, &d, error)) return m;
    std::vector<int16_t> out(d.samples.size()), refStereo, outStereo;
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<int16_t>(std::clamp(d.samples[i], -32768.0f, 32767.0f));
        outStereo.insert(outStereo.end(), {out[i], out[i]});
    }
    for (int16_t v : input) refStereo.insert(refStereo.end(), {v, v});
    std::vector<int16_t> ref = input;
    Align(&ref, &out, test::FindLag(refStereo, outStereo, 4096));
    m.segSnr = test::SegmentalSnrDb(ref, out, static_cast<std::size_t>(rate / 50));
    m.lsd = test::LogSpectralDistanceDb(ref, out);
    m.bandwidth = BandwidthHz(out, rate);
    m.levelDiff = test::LevelDifferenceDb(ref, out);
    m.nmr = NoiseToMaskDb(ref, out, rate, bitrate);
    return m;
}

class LcQuality : public ::testing::TestWithParam<LcCase> {};

TEST_P(LcQuality, SideBySideWithFfmpeg) {
    if (!NeedPeers()) GTEST_SKIP() << "ffmpeg, faad, sox or espeak-ng missing";
    const LcCase c = GetParam();
    std::string error;
    const std::string wav = MakeItem(c.kind, c.rate, 1, 4.0, &error);
    ASSERT_FALSE(wav.empty()) << error;
    WavData input;
    ASSERT_TRUE(ReadWav(wav, &input, &error)) << error;
    const std::string stem = WorkFile("lcq_" + std::string(c.kind) + "_" + std::to_string(c.rate));
    std::string summary;
    ASSERT_TRUE(RunCli("encode --codec aac-lc --bitrate " + std::to_string(c.bitrate) + " " + Quote(wav) + " " +
                           Quote(stem + "_ours.aac"), &summary, &error)) << error;
    ASSERT_TRUE(FfmpegEncodeAac(wav, stem + "_ffmpeg.aac", c.bitrate, &error)) << error;
    const Measured ours = MeasureDecoded(input.samples, stem + "_ours.aac", c.rate, c.bitrate, &error);
    ASSERT_TRUE(error.empty()) << error;
    const Measured peer = MeasureDecoded(input.samples, stem + "_ffmpeg.aac", c.rate, c.bitrate, &error);
    ASSERT_TRUE(error.empty()) << error;
    char row[200];
    std::snprintf(row, sizeof row,
                  "%-7s %6d %6d | %6.2f %6.2f | %5.2f %5.2f | %6.0f %6.0f | %+6.2f %+6.2f | %+5.2f %+5.2f", c.kind,
                  c.rate, c.bitrate, ours.segSnr, peer.segSnr, ours.lsd, peer.lsd, ours.bandwidth, peer.bandwidth,
                  ours.nmr, peer.nmr, ours.levelDiff, peer.levelDiff);
    AddTableRow("AAC-LC mono, ours | ffmpeg -c:a aac, both decoded by ffmpeg",
                "item      rate   kbps | segSNR dB     | LSD dB      | bandwidth Hz  | NMR dB        | level dB", row);
    // A listener hears a level change of a decibel on a steady item.
    if (std::string(c.kind) != "clicks") {
        EXPECT_LT(std::fabs(ours.levelDiff), 1.0) << row;
    }
    EXPECT_GT(ours.segSnr, 0.0) << row;
}

std::vector<LcCase> QualityCases() {
    std::vector<LcCase> cases;
    for (const char* kind : {"speech", "music", "pink", "clicks", "sweep", "tone"}) cases.push_back({kind, 22050, 32000});
    for (const char* kind : {"speech", "music"}) {
        cases.push_back({kind, 16000, 24000});
        cases.push_back({kind, 24000, 40000});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Items, LcQuality, ::testing::ValuesIn(QualityCases()));

}  // namespace
}  // namespace aurivane::enctest
