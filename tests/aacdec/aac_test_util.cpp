#include "aac_test_util.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace aurivane::aactest {

CoreHarness::CoreHarness(int sampleRate) {
    std::memset(storage_, 0, sizeof(storage_));
    std::memset(time_, 0, sizeof(time_));
    std::memset(&sbr_, 0, sizeof(sbr_));
    BitBufferCreate(&bits_, storage_, sizeof(storage_));
    AacCoreDecoderOpen(&core_, &bits_, &sbr_, time_);
    AacCoreDecoderConfigure(&core_, sampleRate, 0);
}

int CoreHarness::Decode(const std::vector<uint8_t>& block, int frameValid) {
    // Each block starts on a clean buffer, as the decoder filter does.
    BitBufferAttach(&bits_, storage_, sizeof(storage_));
    for (uint8_t byte : block) BitBufferWrite(&bits_, byte, 8);
    sbr_.count = 0;
    int frameSize = 0, rate = 0, mode = 0;
    return AacCoreDecodeFrame(&core_, &frameSize, &rate, &channels_, &mode, frameValid);
}

void BitWriter::Put(uint32_t value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        if (pending == 0) bytes.push_back(0);
        if ((value >> i) & 1u) bytes.back() |= static_cast<uint8_t>(0x80u >> pending);
        pending = (pending + 1) & 7;
    }
}

void BitWriter::Align() {
    pending = 0;
}

}  // namespace aurivane::aactest
