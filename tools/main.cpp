// aurivane: command-line front end of the engine.
#include "commands.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

namespace {

constexpr const char* kVersion = "0.1.0";

struct Command {
    const char* name;
    const char* usage;
    const char* summary;
    int (*run)(const aurivane::cli::Args& args);
};

const Command kCommands[] = {
    {"classes", "classes", "list the class catalogue and what this build provides",
     aurivane::cli::RunClasses},
    {"splitter-demo", "splitter-demo", "build a splitter chain and show the delivery order",
     aurivane::cli::RunSplitterDemo},
    {"devices", "devices [--device default|virtual]", "describe the sound-card service in use",
     aurivane::cli::RunDevices},
    {"record", "record OUT.wav --seconds N [--rate R --channels C]", "capture from the input device to WAV",
     aurivane::cli::RunRecord},
    {"play", "play IN.wav", "play a WAV file on the output device", aurivane::cli::RunPlay},
    {"loopback", "loopback --seconds N", "wire the recorder into the player", aurivane::cli::RunLoopback},
    {"encode", "encode --codec g729|aac-lc|he-aac [--bitrate BPS] IN.wav OUT",
     "encode WAV to G.729 frames, AAC-LC (ADTS) or HE-AAC v2 (ADTS or .aps)",
     aurivane::cli::RunEncode},
    {"decode", "decode [--codec g729|aac] IN.g729|.aps|.aac OUT.wav",
     "decode G.729 frames, an AAC packet stream or ADTS AAC to WAV", aurivane::cli::RunDecode},
    {"info", "info IN.aac|IN.aps", "show what an AAC stream holds", aurivane::cli::RunInfo},
    {"voice-loop", "voice-loop IN.wav OUT.wav [--speed N]",
     "recorder -> G.729 encoder -> decoder -> player on the virtual card", aurivane::cli::RunVoiceLoop},
};

void PrintHelp(std::FILE* out) {
    std::fprintf(out,
                 "usage: aurivane <command> [arguments]\n"
                 "       aurivane --help | --version\n\n"
                 "commands:\n");
    for (const Command& c : kCommands) {
        std::fprintf(out, "  %-44s %s\n", c.usage, c.summary);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintHelp(stderr);
        return 2;
    }
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        PrintHelp(stdout);
        return 0;
    }
    if (command == "--version") {
        std::printf("aurivane %s\n", kVersion);
        return 0;
    }
    aurivane::cli::Args args(argv + 2, argv + argc);
    for (const Command& c : kCommands) {
        if (command == c.name) {
            try {
                return c.run(args);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "aurivane %s: %s\n", c.name, e.what());
                return 1;
            }
        }
    }
    std::fprintf(stderr, "aurivane: unknown command '%s' (try 'aurivane --help')\n", command.c_str());
    return 2;
}
