// AAC commands: "decode" of an AacPacketStream (.aps) through the engine's
// AacDecoder object or of an ADTS stream (.aac) through the core decoder at
// the stream's own rate, and "info" on either kind of stream.
#include "commands.h"

#include <aurivane/aurivane.h>

#include "aacdec/aac_core_decoder.h"
#include "aacdec/sbr_decoder.h"
#include "adts_reader.h"
#include "audio_input.h"
#include "wav_file.h"
#include "wav_sink.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace aurivane::cli {

namespace {

constexpr std::size_t kStorageBytes = 8192;  // holds the largest ADTS frame

bool EndsWith(const std::string& s, const char* suffix) {
    const std::string x(suffix);
    return s.size() >= x.size() && s.compare(s.size() - x.size(), x.size(), x) == 0;
}

bool ReadFile(const char* command, const std::string& path, std::vector<uint8_t>* out) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!f) {
        std::fprintf(stderr, "aurivane %s: cannot open %s\n", command, path.c_str());
        return false;
    }
    // One read of the whole size where the size is known, blocks otherwise.
    out->clear();
    if (std::fseek(f.get(), 0, SEEK_END) == 0) {
        const long size = std::ftell(f.get());
        if (size > 0) out->reserve(static_cast<std::size_t>(size));
        std::fseek(f.get(), 0, SEEK_SET);
    }
    uint8_t block[1 << 16];
    std::size_t n;
    while ((n = std::fread(block, 1, sizeof block, f.get())) > 0) out->insert(out->end(), block, block + n);
    if (out->empty()) {
        std::fprintf(stderr, "aurivane %s: %s is empty; expected an ADTS AAC stream or an AacPacketStream\n", command,
                     path.c_str());
        return false;
    }
    return true;
}

// Positional arguments, dropping "--codec aac".
std::vector<std::string> Files(const Args& args) {
    std::vector<std::string> files;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--codec" && i + 1 < args.size()) {
            ++i;
        } else {
            files.push_back(args[i]);
        }
    }
    return files;
}

// Clamps and truncates toward zero, as the AacDecoder filter converts; a NaN
// from a hostile frame becomes silence.
int16_t ToPcm16(float v) {
    if (!(v == v)) return 0;
    v = v < -32768.0f ? -32768.0f : v;
    v = v > 32767.0f ? 32767.0f : v;
    return static_cast<int16_t>(v);
}

// Interleaves `length` samples of channels a and b (the same for one
// channel written twice) in a loop the compiler vectorises.
void InterleavePcm16(const float* a, const float* b, int length, int16_t* out) {
    for (int i = 0; i < length; ++i) {
        out[2 * i] = ToPcm16(a[i]);
        out[2 * i + 1] = ToPcm16(b[i]);
    }
}

// Loads a raw data block into the decoder's bit buffer, which starts empty.
void LoadBlock(BitBuffer* bits, uint8_t* storage, std::size_t capacity, const AdtsBlock& block) {
    BitBufferCreate(bits, storage, static_cast<uint32_t>(capacity));
    if (block.size < capacity) {
        std::memcpy(storage, block.data, block.size);
        bits->writeByte = storage + block.size;
        bits->bitCount = static_cast<int32_t>(8 * block.size);
    } else {
        for (std::size_t i = 0; i < block.size; ++i) BitBufferWrite(bits, block.data[i], 8);
    }
}


// The records of an AacPacketStream; false when the last one is cut short.
bool SplitRecords(const std::vector<uint8_t>& s, std::vector<std::pair<std::size_t, std::size_t>>* records) {
    std::size_t at = 0;
    while (at < s.size()) {
        const std::size_t length = s[at];
        if (at + 1 + length > s.size()) return false;
        records->emplace_back(at, 1 + length);
        at += 1 + length;
    }
    return true;
}

int DecodePacketStream(const std::vector<uint8_t>& s, const std::string& outPath) {
    std::vector<std::pair<std::size_t, std::size_t>> records;
    const bool whole = SplitRecords(s, &records);
    if (!whole) std::fprintf(stderr, "aurivane decode: the last record is cut short; it is ignored\n");
    auto* decoder = static_cast<AacDecoderInterface*>(CreateObject(&kAacDecoderId));
    if (decoder == nullptr) {
        std::fprintf(stderr, "aurivane: this build does not provide the AacDecoder class\n");
        return 1;
    }
    WavWriter out;
    std::string error;
    if (!out.Open(outPath, &error)) {
        DestroyObject(&kAacDecoderId, decoder);
        std::fprintf(stderr, "aurivane decode: %s\n", error.c_str());
        return 1;
    }
    WavSink sink(&out);
    decoder->AddSink(&sink);
    int result = 0;
    uint32_t sampleRate = 0;
    if (decoder->Open(0) != 1) {
        std::fprintf(stderr, "aurivane decode: AacDecoder open failed\n");
        result = 1;
    }
    std::size_t failed = 0;
    ProgressLine progress("decoding", static_cast<double>(records.size()) * 1024.0 / 22050.0);
    // One record per call: a failing record then costs only its own frame.
    for (std::size_t r = 0; r < records.size() && result == 0; ++r) {
        progress.Update(static_cast<double>(r) * 1024.0 / 22050.0);
        sink.last = 0;
        if (decoder->Process(s.data() + records[r].first, static_cast<uint32_t>(records[r].second)) != 1) {
            ++failed;
            continue;
        }
        const uint32_t rate = sink.last == 8192 ? 44100 : 22050;
        if (sampleRate == 0) sampleRate = rate;
        if (rate != sampleRate) {
            std::fprintf(stderr, "aurivane decode: output rate changes at record %zu; kept at %u Hz\n", r, sampleRate);
        }
    }
    DestroyObject(&kAacDecoderId, decoder);
    if (sampleRate == 0) sampleRate = 22050;
    const uint64_t pairs = out.SamplesWritten() / 2;
    if (!out.Finish(sampleRate, 2, &error)) {
        std::fprintf(stderr, "aurivane decode: %s\n", error.c_str());
        return 1;
    }
    if (result != 0) return result;
    char summary[256];
    std::snprintf(summary, sizeof summary, "%zu records, %zu failed, %llu sample pairs at %u Hz", records.size(), failed,
                  static_cast<unsigned long long>(pairs), sampleRate);
    progress.Finish(summary);
    return failed == 0 && whole ? 0 : 1;
}

int DecodeAdts(const std::vector<uint8_t>& s, const std::string& inPath, const std::string& outPath) {
    AdtsReader reader(s.data(), s.size());
    AdtsFrame frame;
    if (!reader.Next(&frame)) {
        std::fprintf(stderr,
                     "aurivane decode: %s: no ADTS frame found, so not an ADTS AAC stream "
                     "(decode reads ADTS .aac, AacPacketStream .aps and G.729 .g729 files)\n",
                     inPath.c_str());
        return 1;
    }
    if (frame.header.ObjectType() != 2) {
        std::fprintf(stderr, "aurivane decode: %s: ADTS object type %d; only AAC-LC (2), with or without SBR/PS, is decoded\n",
                     inPath.c_str(), frame.header.ObjectType());
        return 1;
    }
    // The length of the first frame gives an estimate of the whole duration.
    const double estimate = static_cast<double>(s.size()) / (std::max)(frame.header.frameLength, 1) *
                            frame.header.rawBlocks * 1024.0 / (std::max)(frame.header.sampleRate, 1);
    ProgressLine progress("decoding", estimate);
    auto decoder = std::make_unique<AacCoreDecoder>();
    auto storage = std::make_unique<uint8_t[]>(kStorageBytes);
    std::vector<float> time(4096, 0.0f);
    BitBuffer bits;
    SbrPayloadList sbr{};
    BitBufferCreate(&bits, storage.get(), kStorageBytes);
    AacCoreDecoderOpen(decoder.get(), &bits, &sbr, time.data());
    if (AacCoreDecoderConfigure(decoder.get(), frame.header.sampleRate, 0) != 0) {
        std::fprintf(stderr, "aurivane decode: %d Hz is not supported\n", frame.header.sampleRate);
        return 1;
    }
    WavWriter out;
    std::string error;
    if (!out.Open(outPath, &error)) {
        std::fprintf(stderr, "aurivane decode: %s\n", error.c_str());
        return 1;
    }
    const int coreRate = frame.header.sampleRate;
    uint32_t outRate = static_cast<uint32_t>(coreRate);
    uint16_t outChannels = frame.header.channelConfig == 1 ? 1 : 2;
    std::size_t blocks = 0, failed = 0;
    // HE-AAC: SBR (and PS) are signalled implicitly by the fill elements.
    // When the first block carries SBR data the output runs at twice the
    // core rate in stereo, as the AacDecoder delivers it.
    std::unique_ptr<SbrDecoder, void (*)(SbrDecoder*)> sbrStorage(SbrDecoderCreate(), SbrDecoderDestroy);
    SbrDecoder* sbrDecoder = nullptr;
    bool heAac = false;
    std::size_t sbrFailed = 0;
    auto decodeOne = [&](int frameValid) {
        sbr.count = 0;
        int size = 0, rate = 0, channels = 0, mode = 0;
        const int status = AacCoreDecodeFrame(decoder.get(), &size, &rate, &channels, &mode, frameValid);
        if (frameValid && status != 0) ++failed;
        if (sbrDecoder == nullptr && sbr.count != 0 && sbrStorage != nullptr) {
            sbrDecoder = SbrDecoderOpen(sbrStorage.get(), rate, size, 0, 0);
        }
        if (blocks == 0 && sbrDecoder != nullptr) {
            heAac = true;
            outRate *= 2;
            outChannels = 2;
        }
        int n = 1024;
        if (sbrDecoder != nullptr) {
            if (SbrDecoderApply(sbrDecoder, &sbr, time.data(), &channels, frameValid, 0, 0) == 0) {
                n = 2048;
            } else {
                sbrDecoder = nullptr;  // reopened by the next frame with SBR data
                ++sbrFailed;
            }
        }
        // The decoder is one frame late: the first call yields silence.
        if (blocks++ == 0) return;
        // A core-rate frame in an SBR stream is held for two output samples
        // (and an SBR frame in a plain stream decimated) so the rate holds.
        const int length = heAac ? 2048 : 1024;
        int16_t* pcm = out.Reserve(static_cast<std::size_t>(length) * outChannels);
        const float* second = time.data() + (channels == 2 ? n : 0);
        if (n == length && outChannels == 2) {
            InterleavePcm16(time.data(), second, length, pcm);
        } else if (n == length) {
            for (int i = 0; i < length; ++i) pcm[i] = ToPcm16(time[static_cast<std::size_t>(i)]);
        } else {
            for (int i = 0; i < length; ++i) {
                for (int c = 0; c < outChannels; ++c) {
                    const int at = n * (channels == 2 ? c : 0) + i * n / length;
                    pcm[i * outChannels + c] = ToPcm16(time[static_cast<std::size_t>(at)]);
                }
            }
        }
        out.Commit(static_cast<std::size_t>(length) * outChannels);
    };
    do {
        if (frame.header.sampleRate != coreRate) {
            std::fprintf(stderr, "aurivane decode: the rate changes at byte %zu; stopping\n", frame.offset);
            break;
        }
        const int calls = frame.blocksDelimited ? frame.blockCount : frame.header.rawBlocks;
        for (int b = 0; b < calls; ++b) {
            if (frame.blocksDelimited || b == 0) {
                // Each frame starts on an empty buffer, so bits that a damaged
                // block left unread cannot shift the next one.
                LoadBlock(&bits, storage.get(), kStorageBytes, frame.blocks[frame.blocksDelimited ? b : 0]);
            }
            decodeOne(1);
        }
        progress.Update(estimate * static_cast<double>(frame.offset) / static_cast<double>(s.size()));
    } while (reader.Next(&frame));
    // Flush the last frame: an empty, not-valid call outputs the stored one.
    BitBufferCreate(&bits, storage.get(), kStorageBytes);
    decodeOne(0);

    if (!out.Finish(outRate, outChannels, &error)) {
        std::fprintf(stderr, "aurivane decode: %s\n", error.c_str());
        return 1;
    }
    char summary[256];
    std::snprintf(summary, sizeof summary, "%zu raw data blocks, %zu failed (concealed), %zu bytes skipped%s, %u Hz, %u channel%s",
                  blocks - 1, failed, reader.SkippedBytes(), reader.Truncated() ? ", truncated tail" : "",
                  outRate, outChannels, outChannels == 1 ? "" : "s");
    progress.Finish(summary);
    if (heAac) std::printf("HE-AAC: SBR at twice the core rate, %zu SBR frames failed\n", sbrFailed);
    return failed == 0 ? 0 : 1;
}

// Implicit HE-AAC signalling: decodes the blocks with the core and SBR
// decoders and counts the frames that carried SBR data and those whose
// SBR data carried parametric stereo (a mono core turned into two channels).
struct HeAacProbe {
    std::size_t sbrFrames = 0;
    std::size_t psFrames = 0;
};

HeAacProbe ProbeHeAac(const std::vector<AdtsBlock>& blocks, int coreRate) {
    HeAacProbe probe;
    auto decoder = std::make_unique<AacCoreDecoder>();
    auto storage = std::make_unique<uint8_t[]>(kStorageBytes);
    std::vector<float> time(4096, 0.0f);
    BitBuffer bits;
    SbrPayloadList sbr{};
    BitBufferCreate(&bits, storage.get(), kStorageBytes);
    AacCoreDecoderOpen(decoder.get(), &bits, &sbr, time.data());
    std::unique_ptr<SbrDecoder, void (*)(SbrDecoder*)> sbrStorage(SbrDecoderCreate(), SbrDecoderDestroy);
    if (AacCoreDecoderConfigure(decoder.get(), coreRate, 0) != 0 || sbrStorage == nullptr) return probe;
    SbrDecoder* sbrDecoder = nullptr;
    for (const AdtsBlock& block : blocks) {
        LoadBlock(&bits, storage.get(), kStorageBytes, block);
        sbr.count = 0;
        int size = 0, rate = 0, channels = 0, mode = 0;
        AacCoreDecodeFrame(decoder.get(), &size, &rate, &channels, &mode, 1);
        if (sbr.count == 0) continue;
        ++probe.sbrFrames;
        if (sbrDecoder == nullptr) sbrDecoder = SbrDecoderOpen(sbrStorage.get(), rate, size, 0, 0);
        const int coreChannels = channels;
        if (sbrDecoder != nullptr && SbrDecoderApply(sbrDecoder, &sbr, time.data(), &channels, 1, 0, 0) != 0) {
            sbrDecoder = nullptr;
        } else if (coreChannels == 1 && channels == 2) {
            ++probe.psFrames;
        }
    }
    return probe;
}

void PrintHeAac(const HeAacProbe& probe, std::size_t frames, int coreRate) {
    if (probe.sbrFrames == 0) return;
    std::printf("  SBR             implicit, %zu of %zu frames, output at %d Hz (HE-AAC%s)\n", probe.sbrFrames,
                frames, 2 * coreRate, probe.psFrames ? " v2" : "");
    if (probe.psFrames) std::printf("  PS              %zu frames, output in stereo\n", probe.psFrames);
}

int InfoAdts(const std::vector<uint8_t>& s, const std::string& path) {
    AdtsReader reader(s.data(), s.size());
    AdtsFrame frame;
    if (!reader.Next(&frame)) return -1;
    const AdtsHeader first = frame.header;
    std::size_t frames = 0, blocks = 0, bytes = 0;
    bool crc = false, changes = false;
    std::vector<AdtsBlock> blockList;
    do {
        ++frames;
        blocks += static_cast<std::size_t>(frame.header.rawBlocks);
        bytes += static_cast<std::size_t>(frame.header.frameLength);
        crc |= frame.header.crcPresent;
        changes |= frame.header.sampleRate != first.sampleRate || frame.header.channelConfig != first.channelConfig;
        if (frame.blocksDelimited) {
            blockList.insert(blockList.end(), frame.blocks.begin(), frame.blocks.begin() + frame.blockCount);
        }
    } while (reader.Next(&frame));
    const double seconds = double(blocks) * 1024.0 / first.sampleRate;
    std::printf("%s: ADTS (%s)\n", path.c_str(), first.mpeg2 ? "MPEG-2" : "MPEG-4");
    std::printf("  object type     %d%s\n", first.ObjectType(), first.ObjectType() == 2 ? " (AAC-LC)" : "");
    std::printf("  sampling rate   %d Hz\n", first.sampleRate);
    std::printf("  channels        %d%s\n", first.channelConfig,
                first.channelConfig == 0 ? " (configured in-band)" : "");
    std::printf("  frames          %zu (%zu raw data blocks)\n", frames, blocks);
    std::printf("  duration        %.3f s\n", seconds);
    std::printf("  bitrate         %.1f kbit/s\n", seconds > 0 ? bytes * 8.0 / seconds / 1000.0 : 0.0);
    std::printf("  CRC             %s\n", crc ? "present" : "absent");
    if (reader.SkippedBytes() > 0) std::printf("  skipped         %zu bytes of junk\n", reader.SkippedBytes());
    if (reader.Truncated()) std::printf("  truncated       the data ends inside a frame\n");
    if (changes) std::printf("  note            the rate or channel configuration changes\n");
    if (!changes) PrintHeAac(ProbeHeAac(blockList, first.sampleRate), blocks, first.sampleRate);
    return 0;
}

// The first channel element of a raw data block, past any data stream and
// fill elements: 0 single channel, 1 channel pair, -1 none found.
int FirstChannelElement(const uint8_t* p, std::size_t size) {
    std::size_t bit = 0;
    const std::size_t total = size * 8;
    auto read = [&](int n) -> int {
        int v = 0;
        for (int i = 0; i < n; ++i, ++bit) {
            if (bit >= total) return -1;
            v = (v << 1) | ((p[bit >> 3] >> (7 - (bit & 7))) & 1);
        }
        return v;
    };
    for (int element = 0; element < 64; ++element) {
        const int id = read(3);
        if (id == 0 || id == 1) return id;
        if (id == 4) {  // data_stream_element
            read(4);
            const int align = read(1);
            int count = read(8);
            if (count == 255) count += read(8);
            if (align == 1) bit = (bit + 7) & ~std::size_t{7};
            bit += 8 * static_cast<std::size_t>(count < 0 ? 0 : count);
        } else if (id == 6) {  // fill_element
            int count = read(4);
            if (count == 15) count += read(8) - 1;
            bit += 8 * static_cast<std::size_t>(count < 0 ? 0 : count);
        } else {
            return -1;
        }
        if (bit > total) return -1;
    }
    return -1;
}

int InfoPacketStream(const std::vector<uint8_t>& s, const std::string& path) {
    std::vector<std::pair<std::size_t, std::size_t>> records;
    const bool whole = SplitRecords(s, &records);
    std::size_t mono = 0, stereo = 0, other = 0, payload = 0;
    for (const auto& r : records) {
        payload += r.second - 1;
        const int id = FirstChannelElement(s.data() + r.first + 1, r.second - 1);
        if (id == 0) {
            ++mono;
        } else if (id == 1) {
            ++stereo;
        } else {
            ++other;
        }
    }
    const double seconds = double(records.size()) * 1024.0 / 22050.0;
    std::printf("%s: AacPacketStream\n", path.c_str());
    std::printf("  records         %zu (%zu payload bytes)%s\n", records.size(), payload,
                whole ? "" : ", last record cut short");
    std::printf("  core rate       22050 Hz (assumed by the stream format)\n");
    std::printf("  channel element %zu single channel, %zu channel pair, %zu none\n", mono, stereo, other);
    std::printf("  duration        %.3f s at the core rate\n", seconds);
    std::printf("  bitrate         %.1f kbit/s\n", seconds > 0 ? payload * 8.0 / seconds / 1000.0 : 0.0);
    std::vector<AdtsBlock> blockList;
    for (const auto& r : records) blockList.push_back(AdtsBlock{s.data() + r.first + 1, r.second - 1});
    PrintHeAac(ProbeHeAac(blockList, 22050), records.size(), 22050);
    return whole ? 0 : 1;
}

}  // namespace

int RunDecodeAac(const Args& args) {
    const std::vector<std::string> files = Files(args);
    if (files.size() != 2) {
        std::fprintf(stderr, "usage: aurivane decode IN.aps|IN.aac OUT.wav\n");
        return 2;
    }
    std::vector<uint8_t> s;
    if (!ReadFile("decode", files[0], &s)) return 1;
    if (EndsWith(files[0], ".aps")) return DecodePacketStream(s, files[1]);
    return DecodeAdts(s, files[0], files[1]);
}

int RunInfo(const Args& args) {
    const std::vector<std::string> files = Files(args);
    if (files.size() != 1) {
        std::fprintf(stderr, "usage: aurivane info IN.aac|IN.aps\n");
        return 2;
    }
    std::vector<uint8_t> s;
    if (!ReadFile("info", files[0], &s)) return 1;
    if (s.size() >= 8 && std::string(s.begin() + 4, s.begin() + 8) == "ftyp") {
        std::fprintf(stderr,
                     "aurivane info: %s is an MP4/M4A file; MP4 input is not read. Copy its AAC track into an ADTS "
                     "stream first, e.g. ffmpeg -i '%s' -c:a copy OUT.aac\n",
                     files[0].c_str(), files[0].c_str());
        return 1;
    }
    if (!EndsWith(files[0], ".aps")) {
        const int r = InfoAdts(s, files[0]);
        if (r >= 0) return r;
        std::fprintf(stderr, "%s: no ADTS frame found; reading it as an AacPacketStream\n", files[0].c_str());
    }
    return InfoPacketStream(s, files[0]);
}

}  // namespace aurivane::cli
