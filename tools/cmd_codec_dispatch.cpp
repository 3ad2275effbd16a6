// "encode" and "decode" pick the codec from --codec or the file extension.
#include "commands.h"

#include <cstdio>
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

bool WantsG729(const Args& args, std::size_t fileIndex) {
    const std::string codec = CodecOption(args);
    if (!codec.empty()) return codec == "g729";
    return EndsWith(Positional(args, fileIndex), ".g729");
}

bool WantsAac(const Args& args, std::size_t fileIndex) {
    const std::string codec = CodecOption(args);
    if (!codec.empty()) return codec == "aac";
    const std::string file = Positional(args, fileIndex);
    return EndsWith(file, ".aac") || EndsWith(file, ".aps");
}

int Unsupported(const char* command, const Args& args) {
    const std::string codec = CodecOption(args);
    std::fprintf(stderr, "aurivane %s: unsupported format%s%s (supported: --codec g729, or a .g729 file)\n", command,
                 codec.empty() ? "" : " ", codec.c_str());
    return 2;
}

}  // namespace

int RunEncode(const Args& args) {
    if (WantsG729(args, 1)) return RunEncodeG729(args);
    return Unsupported("encode", args);
}

int RunDecode(const Args& args) {
    if (WantsG729(args, 0)) return RunDecodeG729(args);
    if (WantsAac(args, 0)) return RunDecodeAac(args);
    return Unsupported("decode", args);
}

}  // namespace aurivane::cli
