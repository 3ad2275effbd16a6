// AacEncoder through the engine's factory: the Open table, pass-through,
// the record stream and its delivery, the carried remainder, and the
// records judged by our own AacDecoder.
#include <gtest/gtest.h>

#include <aurivane/aurivane.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "engine/aac_encoder_filter.h"

namespace aurivane {
namespace {

struct Capture final : AudioSink {
    struct Call {
        const void* data;
        uint32_t count;
    };
    std::vector<Call> calls;
    std::vector<uint8_t> bytes;
    int32_t Process(const void* data, uint32_t count) override {
        calls.push_back({data, count});
        const uint8_t* p = static_cast<const uint8_t*>(data);
        if (count > 0) bytes.insert(bytes.end(), p, p + count);
        return 1;
    }
};

WAVEFORMATEX Format(uint32_t rate, uint16_t channels, uint16_t bits = 16) {
    WAVEFORMATEX f = {};
    f.wFormatTag = 1;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = static_cast<uint16_t>(channels * bits / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

// Music-like stereo: a melody left of centre, a pad right, noise in both.
std::vector<int16_t> StereoSignal(int periods, uint32_t rate) {
    std::vector<int16_t> pcm(2 * periods);
    uint32_t seed = 12345;
    for (int n = 0; n < periods; ++n) {
        seed = seed * 1664525u + 1013904223u;
        const double noise = (static_cast<int>(seed >> 16) - 32768) / 32768.0;
        const double t = static_cast<double>(n) / rate;
        const double melody = std::sin(2 * M_PI * (440.0 + 220.0 * ((n / 8192) % 3)) * t);
        const double pad = std::sin(2 * M_PI * 3100.0 * t) + 0.5 * std::sin(2 * M_PI * 7300.0 * t);
        pcm[2 * n] = static_cast<int16_t>(9000 * melody + 2000 * pad + 1500 * noise);
        pcm[2 * n + 1] = static_cast<int16_t>(3000 * melody + 6000 * pad + 1500 * noise);
    }
    return pcm;
}

struct Encoder {
    AacEncoderInterface* object = static_cast<AacEncoderInterface*>(CreateObject(&kAacEncoderId));
    Capture sink;
    Encoder() { object->AddSink(&sink); }
    ~Encoder() { DestroyObject(&kAacEncoderId, object); }
};

// Splits a stream into its records; fails the test when a length byte does
// not match what follows it.
std::vector<std::vector<uint8_t>> Records(const std::vector<uint8_t>& stream) {
    std::vector<std::vector<uint8_t>> records;
    size_t pos = 0;
    while (pos < stream.size()) {
        const size_t length = stream[pos];
        EXPECT_GT(length, 0u);
        EXPECT_LE(pos + 1 + length, stream.size()) << "record " << records.size() << " runs past the stream";
        if (pos + 1 + length > stream.size()) break;
        records.emplace_back(stream.begin() + pos + 1, stream.begin() + pos + 1 + length);
        pos += 1 + length;
    }
    return records;
}

TEST(AacEncoderFilter, OpenAcceptsTheTableAndRefusesItsEdges) {
    struct Case {
        uint32_t rate;
        uint16_t channels, bits;
        int32_t bitrate, accepted;
    } cases[] = {
        {44100, 2, 16, 44000, 1}, {44100, 2, 16, 44001, 0}, {44100, 2, 16, 8000, 1}, {48000, 2, 16, 12000, 1},
        {48000, 2, 16, 11999, 0}, {32000, 2, 16, 20000, 0}, {32000, 2, 16, 10000, 1}, {16000, 2, 16, 32000, 0},
        {96000, 2, 16, 32000, 0}, {44100, 1, 16, 32000, 1}, {44100, 3, 16, 32000, 0}, {44100, 2, 8, 32000, 0},
        {44100, 2, 24, 32000, 0},
    };
    for (const Case& c : cases) {
        Encoder e;
        const WAVEFORMATEX f = Format(c.rate, c.channels, c.bits);
        EXPECT_EQ(e.object->Open(&f, c.bitrate), c.accepted)
            << c.rate << " Hz, " << c.channels << " ch, " << c.bits << " bit, " << c.bitrate << " bit/s";
    }
}

TEST(AacEncoderFilter, RefusedOpenPassesInputThroughAndSecondOpenKeepsTheFirst) {
    Encoder e;
    const WAVEFORMATEX refused = Format(16000, 2);
    ASSERT_EQ(e.object->Open(&refused, 32000), 0);
    const uint8_t data[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(e.object->Process(data, sizeof(data)), 1);
    ASSERT_EQ(e.sink.calls.size(), 1u);
    EXPECT_EQ(e.sink.calls[0].data, data);
    EXPECT_EQ(e.sink.calls[0].count, sizeof(data));

    auto* filter = static_cast<AacEncoderFilter*>(e.object);
    const WAVEFORMATEX first = Format(44100, 2), second = Format(48000, 2);
    ASSERT_EQ(e.object->Open(&first, 32000), 1);
    EXPECT_EQ(e.object->Open(&second, 12000), 1);
    EXPECT_EQ(filter->Bitrate(), 32000);
    EXPECT_EQ(filter->Sbr()->BandTables().fsSbr, 44100);
}

// 16384 bytes are two frames: one delivery of two records; 8191 bytes
// complete no frame: one empty delivery.
TEST(AacEncoderFilter, OneDeliveryPerCallWithWholeRecords) {
    Encoder e;
    const WAVEFORMATEX f = Format(48000, 2);
    ASSERT_EQ(e.object->Open(&f, 32000), 1);
    const std::vector<int16_t> pcm = StereoSignal(8192, 48000);
    ASSERT_EQ(e.object->Process(pcm.data(), 16384), 1);
    ASSERT_EQ(e.sink.calls.size(), 1u);
    EXPECT_EQ(Records(e.sink.bytes).size(), 2u);

    Encoder fresh;
    ASSERT_EQ(fresh.object->Open(&f, 32000), 1);
    ASSERT_EQ(fresh.object->Process(pcm.data(), 8191), 1);
    ASSERT_EQ(fresh.sink.calls.size(), 1u);
    EXPECT_EQ(fresh.sink.calls[0].count, 0u);
}

// More records than the stream buffer holds: several deliveries, in order,
// each of whole records and none beyond the buffer.
TEST(AacEncoderFilter, LargeCallIsDeliveredInSeveralWholePieces) {
    const int frames = 520;
    std::vector<int16_t> pcm(2 * 2048 * frames);
    uint32_t seed = 3;
    for (int16_t& v : pcm) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<int16_t>(static_cast<int>(seed >> 16) - 32768) / 2;
    }
    Encoder e;
    const WAVEFORMATEX f = Format(44100, 2);
    ASSERT_EQ(e.object->Open(&f, 44000), 1);
    e.object->Process(pcm.data(), static_cast<uint32_t>(pcm.size() * 2));
    ASSERT_GE(e.sink.calls.size(), 2u);
    size_t records = 0, offset = 0;
    for (const Capture::Call& call : e.sink.calls) {
        EXPECT_LE(call.count, AacEncoderFilter::kStreamBytes);
        const std::vector<uint8_t> piece(e.sink.bytes.begin() + offset, e.sink.bytes.begin() + offset + call.count);
        records += Records(piece).size();
        offset += call.count;
    }
    EXPECT_EQ(records, static_cast<size_t>(frames));
}

// Any split of the input into calls codes the same audio as one call.
TEST(AacEncoderFilter, RemainderIsCarriedToTheNextCall) {
    for (uint16_t channels : {2, 1}) {
        const WAVEFORMATEX f = Format(44100, channels);
        const std::vector<int16_t> stereo = StereoSignal(2048 * 12, 44100);
        std::vector<int16_t> pcm(stereo.begin(), stereo.begin() + channels * 2048 * 12);
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(pcm.data());
        const uint32_t total = static_cast<uint32_t>(pcm.size() * 2);
        Encoder whole, pieces;
        ASSERT_EQ(whole.object->Open(&f, 32000), 1);
        ASSERT_EQ(pieces.object->Open(&f, 32000), 1);
        whole.object->Process(bytes, total);
        const uint32_t sizes[] = {0, 1, 7, 8191, 3000, 10001, 1, 0, 4095, 12000};
        uint32_t fed = 0;
        for (int i = 0; fed < total; ++i) {
            const uint32_t size = std::min(sizes[i % 10], total - fed);
            pieces.object->Process(bytes + fed, size);
            fed += size;
        }
        EXPECT_EQ(Records(whole.sink.bytes).size(), 12u);
        EXPECT_EQ(pieces.sink.bytes, whole.sink.bytes) << channels << " channel(s)";
        EXPECT_EQ(static_cast<AacEncoderFilter*>(pieces.object)->PendingBytes(), 0u);
    }
}

// The end-to-end judge: every record decodes in our AacDecoder, and the
// audio keeps its level and its stereo image.
TEST(AacEncoderFilter, RecordsDecodeInOurDecoder) {
    const int frames = 40;
    const std::vector<int16_t> pcm = StereoSignal(2048 * frames, 44100);
    Encoder e;
    const WAVEFORMATEX f = Format(44100, 2);
    ASSERT_EQ(e.object->Open(&f, 32000), 1);
    e.object->Process(pcm.data(), static_cast<uint32_t>(pcm.size() * 2));
    const std::vector<std::vector<uint8_t>> records = Records(e.sink.bytes);
    ASSERT_EQ(records.size(), static_cast<size_t>(frames));
    for (const auto& r : records) EXPECT_LE(r.size(), 255u);

    auto* decoder = static_cast<AacDecoderInterface*>(CreateObject(&kAacDecoderId));
    Capture out;
    decoder->AddSink(&out);
    ASSERT_EQ(decoder->Open(0), 1);
    for (size_t i = 0; i < records.size(); ++i) {
        std::vector<uint8_t> one(records[i].size() + 1);
        one[0] = static_cast<uint8_t>(records[i].size());
        std::memcpy(one.data() + 1, records[i].data(), records[i].size());
        EXPECT_EQ(decoder->Process(one.data(), static_cast<uint32_t>(one.size())), 1) << "record " << i;
    }
    DestroyObject(&kAacDecoderId, decoder);
    ASSERT_EQ(out.bytes.size(), static_cast<size_t>(frames) * 2048 * 4);
    const int16_t* dec = reinterpret_cast<const int16_t*>(out.bytes.data());
    double inPower[2] = {0, 0}, outPower[2] = {0, 0};
    for (int n = 2048 * 8; n < 2048 * frames; ++n) {
        for (int c = 0; c < 2; ++c) {
            inPower[c] += double(pcm[2 * n + c]) * pcm[2 * n + c];
            outPower[c] += double(dec[2 * n + c]) * dec[2 * n + c];
        }
    }
    for (int c = 0; c < 2; ++c) {
        const double levelDb = 10 * std::log10(outPower[c] / inPower[c]);
        EXPECT_LT(std::fabs(levelDb), 1.5) << "channel " << c;
        RecordProperty(c ? "level_right_db" : "level_left_db", std::to_string(levelDb));
    }
}

}  // namespace
}  // namespace aurivane
