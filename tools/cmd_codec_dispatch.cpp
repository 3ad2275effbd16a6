// "encode" and "decode" pick the codec from --codec or the file extension.
#include "commands.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace aurivane::cli {

namespace {

bool EndsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The value of --codec, or "" when absent.
std::string CodecOption(const Args& args) {
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "--codec") return args[i + 1];
    }
    return "";
}

// The positional argument at index, skipping "--option value" pairs.
std::string Positional(const Args& args, std::size_t index) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i].rfind("--", 0) == 0) {
            ++i;
            continue;
        }
        if (seen++ == index) return args[i];
    }
    return "";
}

// The first bytes of a file; empty when it cannot be read.
std::string Head(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!f) return "";
    char b[12];
    return std::string(b, std::fread(b, 1, sizeof b, f.get()));
}

// An ITU serial bitstream starts with the sync word 0x6B21 and the count 80,
// both little-endian 16-bit words.
bool StartsAsItuBitstream(const std::string& head) {
    return head.size() >= 4 && static_cast<uint8_t>(head[0]) == 0x21 && static_cast<uint8_t>(head[1]) == 0x6B &&
           static_cast<uint8_t>(head[2]) == 0x50 && static_cast<uint8_t>(head[3]) == 0x00;
}

bool WantsG729(const Args& args, std::size_t fileIndex) {
    const std::string codec = CodecOption(args);
    if (!codec.empty()) return codec == "g729";
    const std::string file = Positional(args, fileIndex);
    if (EndsWith(file, ".g729")) return true;
    return fileIndex == 0 && (EndsWith(file, ".bit") || StartsAsItuBitstream(Head(file)));
}

bool IsMp4(const std::string& path) {
    const std::string head = Head(path);
    if (head.size() >= 8 && head.compare(4, 4, "ftyp") == 0) return true;
    for (const char* ext : {".mp4", ".m4a", ".m4b", ".3gp"}) {
        if (EndsWith(path, ext)) return true;
    }
    return false;
}

bool WantsAac(const Args& args, std::size_t fileIndex) {
    const std::string codec = CodecOption(args);
    if (!codec.empty()) return codec == "aac";
    const std::string file = Positional(args, fileIndex);
    if (EndsWith(file, ".aac") || EndsWith(file, ".aps") || EndsWith(file, ".adts")) return true;
    // An ADTS stream under another name starts with the 12-bit syncword.
    const std::string head = Head(file);
    return head.size() >= 2 && static_cast<uint8_t>(head[0]) == 0xFF && (static_cast<uint8_t>(head[1]) & 0xF6) == 0xF0;
}

}  // namespace

int RunEncode(const Args& args) {
    if (WantsG729(args, 1)) return RunEncodeG729(args);
    const std::string codec = CodecOption(args);
    if (codec == "aac-lc" || codec == "he-aac") return RunEncodeAac(args);
    std::fprintf(stderr, "aurivane encode: %s (supported: --codec g729|aac-lc|he-aac, or an OUT.g729 file name)\n",
                 codec.empty() ? "no codec given" : ("unsupported format '" + codec + "'").c_str());
    return 2;
}

int RunDecode(const Args& args) {
    const std::string in = Positional(args, 0);
    if (CodecOption(args).empty() && IsMp4(in)) {
        std::fprintf(stderr,
                     "aurivane decode: %s is an MP4/M4A file; MP4 input is not read. Copy its AAC track into an "
                     "ADTS stream first, e.g. ffmpeg -i '%s' -c:a copy OUT.aac, then decode OUT.aac\n",
                     in.c_str(), in.c_str());
        return 1;
    }
    if (WantsG729(args, 0)) return RunDecodeG729(args);
    if (WantsAac(args, 0)) return RunDecodeAac(args);
    const std::string codec = CodecOption(args);
    if (!codec.empty()) {
        std::fprintf(stderr, "aurivane decode: unsupported format '%s' (supported: --codec g729 or --codec aac)\n",
                     codec.c_str());
        return 2;
    }
    if (Head(in).empty()) {
        std::fprintf(stderr, "aurivane decode: %s: cannot open or empty\n", in.c_str());
        return 1;
    }
    std::fprintf(stderr,
                 "aurivane decode: %s: not a stream decode recognises; it reads G.729 frames (.g729, ITU .bit or "
                 "--codec g729), "
                 "ADTS AAC (.aac, or any file starting with an ADTS header) and AacPacketStream (.aps)\n",
                 in.c_str());
    return 1;
}

}  // namespace aurivane::cli
