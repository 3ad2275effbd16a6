// Fuzz bytes as SBR and parametric-stereo payloads in fill elements after
// a valid AAC-LC channel element, through the AacDecoder filter: no read
// outside a buffer, no undefined behaviour, and always a whole frame (core
// rate or twice it) per record.
//
// Input: one flag byte (bit 0: channel pair core; bit 1: a second fill
// element per frame), then records [n][n payload bytes]: the bytes of a
// fill element's extension payload. The high nibble of the first byte
// selects EXT_SBR_DATA or, with bit 5 set, EXT_SBR_DATA_CRC.
#include <aurivane/aurivane.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

// Two raw data blocks of our own test cores (22050 Hz AAC-LC, mono SCE
// and stereo CPE), each ending with END.
const uint8_t kMonoBlock[] = {
    0x01, 0x46, 0x30, 0x28, 0x88, 0x72, 0x9a, 0x09, 0xed, 0x7c, 0x7f, 0x11,
    0x2b, 0x3f, 0x4f, 0xf3, 0x31, 0x74, 0xa6, 0xa9, 0x5a, 0xcb, 0xac, 0xbb,
    0xa1, 0x8d, 0x3d, 0x7b, 0xeb, 0xfb, 0xd3, 0x4b, 0x13, 0x75, 0x8c, 0x4d,
    0x10, 0xae, 0x9d, 0x9b, 0x6b, 0x5f, 0x65, 0xd0, 0xa7, 0x3d, 0xd6, 0xb9,
    0x9f, 0x02, 0x11, 0x53, 0x5f, 0x28, 0x63, 0x2c, 0x37, 0xd8, 0x4b, 0x46,
    0xfc, 0x4e, 0xe6, 0xcb, 0x30, 0xf8, 0xbf, 0xea, 0x85, 0xfd, 0xf0, 0xaf,
    0x9e, 0x8c, 0x23, 0x38, 0xd9, 0x2a, 0xfa, 0x23, 0x60, 0x75, 0xc0, 0x05,
    0xfa, 0x2b, 0xc0, 0xf9, 0xb2, 0x7c,
};
const uint8_t kStereoBlock[] = {
    0x21, 0x17, 0xcb, 0xbc, 0xf6, 0x24, 0x0a, 0xd1, 0xf8, 0x1f, 0x18, 0xab,
    0x5b, 0xbf, 0xd3, 0xfc, 0x49, 0x92, 0xac, 0xd6, 0xda, 0xda, 0xf3, 0x59,
    0xa1, 0xf9, 0x65, 0xee, 0xe0, 0x9f, 0x6a, 0xca, 0x2a, 0x90, 0x49, 0x7b,
    0x11, 0x9a, 0xce, 0x1c, 0x42, 0xc5, 0x1a, 0xc1, 0x70, 0x9d, 0x0a, 0x61,
    0x41, 0x71, 0x64, 0xd6, 0x14, 0xe3, 0xf0, 0x2f, 0x1c, 0x6d, 0x63, 0x24,
    0xcd, 0xea, 0xfd, 0xf7, 0xdf, 0xfa, 0x6f, 0x3a, 0xdc, 0xac, 0xba, 0x16,
    0xd8, 0x73, 0x81, 0x4d, 0x3c, 0x04, 0x6f, 0x31, 0x01, 0x64, 0x92, 0x80,
    0x2f, 0x35, 0x73, 0x63, 0x99, 0xb7, 0x95, 0xa2, 0x45, 0x07, 0xa9, 0x70,
    0xa5, 0xa2, 0xea, 0x0e,
};

class BitWriter {
public:
    void Put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            if ((count_ & 7) == 0) bytes_.push_back(0);
            if ((value >> i) & 1u) bytes_.back() |= static_cast<uint8_t>(0x80u >> (count_ & 7));
            ++count_;
        }
    }
    void Align() {
        while (count_ & 7) Put(0, 1);
    }
    std::vector<uint8_t>& Bytes() { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    std::size_t count_ = 0;
};

// Bits of a block before its END element (the last 1 bit ends it).
std::size_t BitsBeforeEnd(const uint8_t* block, std::size_t size) {
    std::size_t bit = size * 8;
    while (bit > 0 && !((block[(bit - 1) >> 3] >> (7 - ((bit - 1) & 7))) & 1)) --bit;
    return bit >= 3 ? bit - 3 : 0;
}

void PutFill(BitWriter& w, const uint8_t* payload, std::size_t n) {
    w.Put(6, 3);  // ID_FIL
    if (n < 15) {
        w.Put(static_cast<uint32_t>(n), 4);
    } else {
        w.Put(15, 4);
        w.Put(static_cast<uint32_t>(n - 14), 8);
    }
    for (std::size_t i = 0; i < n; ++i) {
        uint8_t b = payload[i];
        if (i == 0) b = static_cast<uint8_t>(((b & 0x20) ? 0xE0 : 0xD0) | (b & 0x0F));
        w.Put(b, 8);
    }
}

class CheckingSink final : public aurivane::AudioSink {
public:
    int32_t Process(const void* data, uint32_t byteCount) override {
        if (byteCount != expectedMin && byteCount != expectedMax) std::abort();
        const auto* p = static_cast<const uint8_t*>(data);
        unsigned sum = 0;
        for (uint32_t i = 0; i < byteCount; ++i) sum += p[i];
        checksum ^= sum;
        return 1;
    }
    uint32_t expectedMin = 0, expectedMax = 0;
    unsigned checksum = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const bool pair = data[0] & 1;
    const bool twoFills = data[0] & 2;
    const uint8_t* block = pair ? kStereoBlock : kMonoBlock;
    const std::size_t blockSize = pair ? sizeof(kStereoBlock) : sizeof(kMonoBlock);
    const std::size_t coreBits = BitsBeforeEnd(block, blockSize);

    auto* decoder = static_cast<aurivane::AacDecoderInterface*>(CreateObject(&aurivane::kAacDecoderId));
    if (decoder == nullptr) std::abort();
    CheckingSink sink;
    decoder->AddSink(&sink);
    if (decoder->Open(0) != 1) std::abort();
    std::size_t pos = 1;
    while (pos < size) {
        std::size_t n = data[pos++];
        if (n > size - pos) n = size - pos;
        BitWriter w;
        for (std::size_t i = 0; i < coreBits; ++i) w.Put((block[i >> 3] >> (7 - (i & 7))) & 1u, 1);
        if (n > 0) {
            const std::size_t first = twoFills ? n / 2 : n;
            PutFill(w, data + pos, first);
            if (twoFills && n - first > 0) PutFill(w, data + pos + first, n - first);
        }
        w.Put(7, 3);  // ID_END
        w.Align();
        pos += n;
        std::vector<uint8_t> record = w.Bytes();
        if (record.size() > 255) continue;  // does not fit a packet record
        record.insert(record.begin(), static_cast<uint8_t>(record.size()));
        // A decoded frame is 1024 pairs at the core rate or 2048 with SBR.
        sink.expectedMin = 4096;
        sink.expectedMax = 8192;
        if (decoder->Process(record.data(), static_cast<uint32_t>(record.size())) != 1) std::abort();
    }
    DestroyObject(&aurivane::kAacDecoderId, decoder);
    return 0;
}
