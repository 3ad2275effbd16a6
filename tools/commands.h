// Sub-commands of the aurivane program. Each returns the process exit code:
// 0 success, 1 failure at run time, 2 a usage error.
#ifndef AURIVANE_TOOLS_COMMANDS_H
#define AURIVANE_TOOLS_COMMANDS_H

#include <string>
#include <vector>

namespace aurivane::cli {

using Args = std::vector<std::string>;  // arguments after the command name

int RunClasses(const Args& args);
int RunSplitterDemo(const Args& args);

// Sound-card commands (--device default|virtual).
int RunDevices(const Args& args);
int RunRecord(const Args& args);
int RunPlay(const Args& args);
int RunLoopback(const Args& args);

// encode/decode dispatch on --codec or the file extension.
int RunEncode(const Args& args);
int RunDecode(const Args& args);
int RunEncodeG729(const Args& args);
int RunDecodeG729(const Args& args);
int RunDecodeAac(const Args& args);  // .aps packet stream or .aac ADTS
int RunEncodeAac(const Args& args);  // --codec aac-lc (ADTS) or he-aac (ADTS or .aps)
// What an AAC stream holds (ADTS or packet stream).
int RunInfo(const Args& args);
// Recorder -> G.729 encoder -> G.729 decoder -> player on the virtual card.
int RunVoiceLoop(const Args& args);

}  // namespace aurivane::cli

#endif
