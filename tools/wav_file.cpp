// WavData images through libsndfile's virtual I/O, so that bytes in memory
// are read and written by the same code as the program's files.
#include "wav_file.h"

#include "audio_input.h"

#include <sndfile.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

namespace aurivane {

namespace {

// A growable byte image behind SF_VIRTUAL_IO.
struct Image {
    std::vector<uint8_t> bytes;
    const uint8_t* data = nullptr;  // read-only view when parsing
    std::size_t size = 0;
    sf_count_t at = 0;
    bool writable = false;
};

sf_count_t Length(void* user) { return static_cast<sf_count_t>(static_cast<Image*>(user)->size); }

sf_count_t Seek(sf_count_t offset, int whence, void* user) {
    Image* im = static_cast<Image*>(user);
    const sf_count_t base = whence == SEEK_CUR ? im->at : whence == SEEK_END ? static_cast<sf_count_t>(im->size) : 0;
    if (base + offset < 0) return -1;
    im->at = base + offset;
    return im->at;
}

sf_count_t Read(void* dst, sf_count_t count, void* user) {
    Image* im = static_cast<Image*>(user);
    if (count <= 0 || im->at >= static_cast<sf_count_t>(im->size)) return 0;
    const sf_count_t n = std::min(count, static_cast<sf_count_t>(im->size) - im->at);
    std::memcpy(dst, im->data + im->at, static_cast<std::size_t>(n));
    im->at += n;
    return n;
}

sf_count_t Write(const void* src, sf_count_t count, void* user) {
    Image* im = static_cast<Image*>(user);
    if (!im->writable || count < 0) return 0;
    const std::size_t end = static_cast<std::size_t>(im->at + count);
    if (end > im->bytes.size()) im->bytes.resize(end);
    std::memcpy(im->bytes.data() + im->at, src, static_cast<std::size_t>(count));
    im->at += count;
    im->data = im->bytes.data();
    im->size = im->bytes.size();
    return count;
}

sf_count_t Tell(void* user) { return static_cast<Image*>(user)->at; }

SF_VIRTUAL_IO kVirtualIo = {Length, Seek, Read, Write, Tell};

bool Fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}

}  // namespace

bool ParseWav(const uint8_t* data, std::size_t size, WavData* out, std::string* error) {
    // WAV images only (RIFF, RF64, BW64): left to guess, libsndfile would also
    // try MPEG and other decoders on arbitrary bytes, and some of those
    // search a damaged stream for a very long time.
    if (size < 12 || (std::memcmp(data, "RIFF", 4) != 0 && std::memcmp(data, "RF64", 4) != 0 &&
                      std::memcmp(data, "BW64", 4) != 0) ||
        std::memcmp(data + 8, "WAVE", 4) != 0) {
        return Fail(error, "not a RIFF/WAVE image");
    }
    Image im;
    im.data = data;
    im.size = size;
    std::string chunk;
    auto readAt = [](void* user, unsigned long long offset, uint8_t* header) {
        const Image* image = static_cast<const Image*>(user);
        if (offset + 8 > image->size) return false;
        std::memcpy(header, image->data + offset, 8);
        return true;
    };
    if (!RiffChunksFit(size, readAt, &im, &chunk)) return Fail(error, "the '" + chunk + "' chunk runs past the end");
    SF_INFO info{};
    std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> file(sf_open_virtual(&kVirtualIo, SFM_READ, &info, &im), sf_close);
    if (!file) return Fail(error, sf_strerror(nullptr));
    if (info.channels < 1 || info.channels > 0xFFFF || info.samplerate < 1) return Fail(error, "no channels or no rate");
    unsigned long long declared = 0, present = 0;
    if (CutShort(file.get(), &declared, &present)) {
        return Fail(error, "cut short: the data chunk declares " + std::to_string(declared) + " bytes, " +
                               std::to_string(present) + " are there");
    }
    const std::size_t channels = static_cast<std::size_t>(info.channels);
    const bool pcm16 = (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
    // Blocks to the end rather than the declared length, which may be unknown.
    constexpr std::size_t kBlock = 4096;
    std::vector<float> f(pcm16 ? 0 : kBlock * channels);
    std::size_t frames = 0;
    for (;;) {
        out->samples.resize((frames + kBlock) * channels);
        int16_t* at = out->samples.data() + frames * channels;
        const sf_count_t got = pcm16 ? sf_readf_short(file.get(), at, kBlock) : sf_readf_float(file.get(), f.data(), kBlock);
        if (got <= 0) break;
        if (!pcm16) FloatToPcm16(f.data(), at, static_cast<std::size_t>(got) * channels);
        frames += static_cast<std::size_t>(got);
    }
    out->samples.resize(frames * channels);
    out->sampleRate = static_cast<uint32_t>(info.samplerate);
    out->channels = static_cast<uint16_t>(info.channels);
    if (info.frames >= 0 && info.frames < (1LL << 40) && frames < static_cast<std::size_t>(info.frames)) {
        return Fail(error, "ends after " + std::to_string(frames) + " of " + std::to_string(info.frames) + " frames");
    }
    return true;
}

bool ReadWav(const std::string& path, WavData* out, std::string* error) {
    AudioInfo info;
    if (!ReadAudio(path, 0, 0, &out->samples, error, &info)) return false;
    out->sampleRate = static_cast<uint32_t>(info.sampleRate);
    out->channels = static_cast<uint16_t>(info.channels);
    return true;
}

std::vector<uint8_t> SerialiseWav(const WavData& wav) {
    Image im;
    im.writable = true;
    SF_INFO info{};
    info.samplerate = static_cast<int>(wav.sampleRate);
    info.channels = wav.channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open_virtual(&kVirtualIo, SFM_WRITE, &info, &im);
    if (file == nullptr) return {};
    const sf_count_t frames = wav.channels ? static_cast<sf_count_t>(wav.samples.size() / wav.channels) : 0;
    sf_writef_short(file, wav.samples.data(), frames);
    sf_close(file);
    return im.bytes;
}

bool WriteWav(const std::string& path, const WavData& wav, std::string* error) {
    const std::size_t frames = wav.channels ? wav.samples.size() / wav.channels : 0;
    return WriteWav(path, wav.samples.data(), frames, static_cast<int>(wav.sampleRate), wav.channels, error);
}

namespace {

void PutLe(uint8_t* p, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

WavWriter::~WavWriter() {
    if (file_ != nullptr) std::fclose(file_);
}

bool WavWriter::Open(const std::string& path, std::string* error) {
    path_ = path;
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
        if (error) *error = path + ": cannot create the WAV file";
        return false;
    }
    block_.assign(kBlockBytes, 0);
    used_ = 0;
    written_ = 0;
    failed_ = false;
    // Placeholder header, rewritten by Finish.
    const uint8_t header[44] = {};
    failed_ = std::fwrite(header, 1, sizeof header, file_) != sizeof header;
    return !failed_;
}

bool WavWriter::Flush() {
    if (used_ == 0 || failed_) return !failed_;
    if constexpr (std::endian::native == std::endian::big) {
        for (std::size_t i = 0; i + 1 < used_; i += 2) std::swap(block_[i], block_[i + 1]);
    }
    failed_ = std::fwrite(block_.data(), 1, used_, file_) != used_;
    written_ += used_;
    used_ = 0;
    return !failed_;
}

int16_t* WavWriter::Reserve(std::size_t count) {
    if (2 * count > block_.size()) return nullptr;
    if (used_ + 2 * count > block_.size()) Flush();
    return reinterpret_cast<int16_t*>(block_.data() + used_);
}

bool WavWriter::Write(const int16_t* samples, std::size_t count) {
    while (count > 0) {
        const std::size_t n = std::min(count, kBlockBytes / 2);
        std::memcpy(Reserve(n), samples, 2 * n);
        Commit(n);
        samples += n;
        count -= n;
    }
    return !failed_;
}

bool WavWriter::Finish(uint32_t sampleRate, uint16_t channels, std::string* error) {
    if (file_ == nullptr) return false;
    Flush();
    // A RIFF size field holds 32 bits; longer data keeps the largest sizes.
    const uint32_t dataBytes = static_cast<uint32_t>(std::min<uint64_t>(written_, 0xFFFFFFFFu - 36u));
    uint8_t h[44];
    std::memcpy(h, "RIFF", 4);
    PutLe(h + 4, 36u + dataBytes, 4);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    PutLe(h + 16, 16, 4);
    PutLe(h + 20, 1, 2);  // WAVE_FORMAT_PCM
    PutLe(h + 22, channels, 2);
    PutLe(h + 24, sampleRate, 4);
    PutLe(h + 28, sampleRate * 2u * channels, 4);
    PutLe(h + 32, 2u * channels, 2);
    PutLe(h + 34, 16, 2);
    std::memcpy(h + 36, "data", 4);
    PutLe(h + 40, dataBytes, 4);
    if (!failed_) failed_ = std::fseek(file_, 0, SEEK_SET) != 0 || std::fwrite(h, 1, sizeof h, file_) != sizeof h;
    if (std::fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
    if (failed_ && error) *error = path_ + ": cannot write the WAV file";
    return !failed_;
}

}  // namespace aurivane
