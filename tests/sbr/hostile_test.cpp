// Hostile payloads: random bytes, random counts (also beyond the entry) and
// random element types must decode or fail cleanly, never read outside the
// entry (the suite also runs under AddressSanitizer) and never produce
// non-finite samples.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>

#include "aacdec/ps_decoder.h"
#include "dsp/ps_tables.h"
#include "aacdec/sbr_decoder.h"
#include "sbr/sbr_test_util.h"

namespace aurivane {
namespace {

void RunRandomFrames(uint32_t seed, bool validHeaderFirst) {
    std::mt19937 rng(seed);
    std::unique_ptr<SbrDecoder, void (*)(SbrDecoder*)> storage(SbrDecoderCreate(), SbrDecoderDestroy);
    SbrDecoder* d = SbrDecoderOpen(storage.get(), 22050, 1024, 0, 0);
    ASSERT_NE(d, nullptr);
    int failures = 0;
    for (int frame = 0; frame < 400; ++frame) {
        SbrPayloadList list;
        std::memset(&list, 0, sizeof(list));
        list.count = static_cast<int32_t>(rng() % 4) - 1;  // -1 .. 2
        for (int i = 0; i < 2; ++i) {
            SbrPayloadEntry& e = list.entries[i];
            e.elementType = static_cast<int32_t>(rng() % 3);
            e.extensionType = rng() % 2 ? 13 : 14;
            e.byteCount = static_cast<int32_t>(rng() % 300);
            for (auto& b : e.bytes) b = static_cast<uint8_t>(rng());
            if (validHeaderFirst) {
                // A plausible header, then random data.
                sbrtest::BitWriter w;
                w.Put(0, 4);
                sbrtest::WriteHeader(w, {static_cast<int>(rng() % 2), static_cast<int>(rng() % 16),
                                         static_cast<int>(rng() % 16), static_cast<int>(rng() % 3)});
                const auto bytes = w.Bytes();
                std::memcpy(e.bytes, bytes.data(), bytes.size() - 1);
                e.extensionType = 13;
            }
        }
        float time[4096];
        for (int i = 0; i < 4096; ++i) time[i] = static_cast<float>(static_cast<int>(rng() % 65536) - 32768);
        int channels = 1 + static_cast<int>(rng() % 2);
        const int status = SbrDecoderApply(d, &list, time, &channels, 1, 0, static_cast<int>(rng() % 2));
        ASSERT_TRUE(status == kSbrStatusOk || status == kSbrStatusFailed);
        if (status == kSbrStatusFailed) {
            ++failures;
            d = SbrDecoderOpen(storage.get(), 22050, 1024, 0, 0);
            continue;
        }
        ASSERT_TRUE(channels == 1 || channels == 2);
        for (int i = 0; i < 2048 * channels; ++i) ASSERT_TRUE(std::isfinite(time[i])) << "frame " << frame;
    }
    ::testing::Test::RecordProperty("failures", failures);
}

TEST(SbrHostile, RandomPayloadsNeverMisbehave) {
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        SCOPED_TRACE(seed);
        RunRandomFrames(seed, false);
    }
}

TEST(SbrHostile, RandomDataAfterValidHeadersNeverMisbehaves) {
    for (uint32_t seed = 10; seed <= 13; ++seed) {
        SCOPED_TRACE(seed);
        RunRandomFrames(seed, true);
    }
}

TEST(SbrHostile, HeldParametersFromTheFineGridStayInRangeOnTheCoarseGrid) {
    // A fine-grid block with IID index 12, then a coarse-grid header with no
    // envelope: the held indices exceed the coarse grid's 7 and must not be
    // used unclamped.
    auto block = [](int iidMode, int iid, int numEnvIdx) {
        sbrtest::BitWriter w;
        w.Put(1, 1);  // enable_ps_header
        w.Put(1, 1);  // enable_iid
        w.Put(static_cast<uint32_t>(iidMode), 3);
        w.Put(0, 1);  // enable_icc
        w.Put(0, 1);  // enable_ext
        w.Put(0, 1);  // frame_class
        w.Put(static_cast<uint32_t>(numEnvIdx), 2);
        if (numEnvIdx) {
            const HuffmanBook& df = kPsHuffmanBooks[iidMode > 2 ? kPsBookIidFineDf : kPsBookIidDf];
            w.Put(0, 1);
            w.PutCode(df, iid);
            for (int b = 1; b < 10; ++b) w.PutCode(df, 0);
        }
        return w;
    };
    PsDecoder ps;
    ps.Reset();
    static float re[32][64], im[32][64], rRe[32][64], rIm[32][64], low[40][32], lowIm[40][32];
    for (int n = 0; n < 32; ++n)
        for (int k = 0; k < 64; ++k) re[n][k] = static_cast<float>((n * 7 + k * 3) % 11) - 5.0f;
    for (int step = 0; step < 2; ++step) {
        const sbrtest::BitWriter w = step == 0 ? block(3, 12, 1) : block(0, 0, 0);
        const std::vector<uint8_t> bytes = w.Bytes();
        SbrBitReader br;
        br.Init(bytes.data(), w.Bits());
        EXPECT_EQ(ps.Parse(br, w.Bits()), w.Bits());
        ps.Apply(re, im, low, lowIm, rRe, rIm);
        EXPECT_LE(std::abs(ps.Iid(0, 0)), step == 0 ? 15 : 7);
        for (int n = 0; n < 32; ++n)
            for (int k = 0; k < 64; ++k) ASSERT_TRUE(std::isfinite(re[n][k]) && std::isfinite(rRe[n][k]));
    }
}

TEST(SbrHostile, NullArgumentsFail) {
    std::unique_ptr<SbrDecoder, void (*)(SbrDecoder*)> storage(SbrDecoderCreate(), SbrDecoderDestroy);
    EXPECT_EQ(SbrDecoderOpen(nullptr, 22050, 1024, 0, 0), nullptr);
    EXPECT_EQ(SbrDecoderOpen(storage.get(), 22050, 960, 0, 0), nullptr);
    SbrDecoder* d = SbrDecoderOpen(storage.get(), 22050, 1024, 0, 0);
    float time[4096] = {};
    int channels = 1;
    EXPECT_EQ(SbrDecoderApply(nullptr, nullptr, time, &channels, 1, 0, 0), kSbrStatusFailed);
    EXPECT_EQ(SbrDecoderApply(d, nullptr, nullptr, &channels, 1, 0, 0), kSbrStatusFailed);
    // No payload list at all: the first call primes, the second has no
    // header to run on.
    EXPECT_EQ(SbrDecoderApply(d, nullptr, time, &channels, 1, 0, 0), kSbrStatusOk);
    EXPECT_EQ(SbrDecoderApply(d, nullptr, time, &channels, 1, 0, 0), kSbrStatusFailed);
}

}  // namespace
}  // namespace aurivane
