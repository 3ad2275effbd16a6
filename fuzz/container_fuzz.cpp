// Any byte string as the two kinds of file the program reads: an audio file
// image (through libsndfile's virtual I/O) and an ADTS stream. Nothing may be
// read outside the input; audio that parses must survive writing as 16-bit
// WAV and parsing again unchanged, and every ADTS frame, payload and block
// must lie inside the data in order.
#include "adts_reader.h"
#include "wav_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void CheckWav(const uint8_t* data, std::size_t size) {
    aurivane::WavData wav;
    std::string error;
    if (!aurivane::ParseWav(data, size, &wav, &error)) {
        if (error.empty()) std::abort();  // a refusal always says why
        return;
    }
    if (wav.channels < 1 || wav.sampleRate == 0) std::abort();
    if (wav.samples.size() % wav.channels != 0) std::abort();
    const std::vector<uint8_t> again = aurivane::SerialiseWav(wav);
    aurivane::WavData back;
    if (!aurivane::ParseWav(again.data(), again.size(), &back, &error)) std::abort();
    if (back.sampleRate != wav.sampleRate || back.channels != wav.channels || back.samples != wav.samples) std::abort();
}

bool Inside(const uint8_t* base, std::size_t size, const uint8_t* p, std::size_t n) {
    return p >= base && n <= size && static_cast<std::size_t>(p - base) <= size - n;
}

void CheckAdts(const uint8_t* data, std::size_t size) {
    aurivane::AdtsReader reader(data, size);
    aurivane::AdtsFrame frame;
    std::size_t end = 0;
    while (reader.Next(&frame)) {
        const aurivane::AdtsHeader& h = frame.header;
        if (frame.offset < end) std::abort();  // frames do not overlap
        if (h.frameLength < static_cast<int>(aurivane::kAdtsHeaderBytes)) std::abort();
        if (!Inside(data, size, data + frame.offset, static_cast<std::size_t>(h.frameLength))) std::abort();
        if (h.sampleRate != aurivane::AdtsSampleRate(h.samplingIndex) || h.sampleRate == 0) std::abort();
        if (h.rawBlocks < 1 || h.rawBlocks > 4) std::abort();
        end = frame.offset + static_cast<std::size_t>(h.frameLength);
        if (!Inside(data + frame.offset, static_cast<std::size_t>(h.frameLength), frame.payload.data,
                    frame.payload.size))
            std::abort();
        if (frame.blockCount < 1 || frame.blockCount > 4) std::abort();
        for (int b = 0; b < frame.blockCount; ++b) {
            const aurivane::AdtsBlock& block = frame.blocks[static_cast<std::size_t>(b)];
            if (!Inside(frame.payload.data, frame.payload.size, block.data, block.size)) std::abort();
        }
        if (reader.Position() < end) std::abort();
    }
    if (reader.Position() > size || reader.SkippedBytes() > size) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    // A copy of exactly `size` bytes, so that the sanitizer sees any read past it.
    std::vector<uint8_t> copy(data, data + size);
    CheckWav(copy.data(), copy.size());
    CheckAdts(copy.data(), copy.size());
    return 0;
}
