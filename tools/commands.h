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

}  // namespace aurivane::cli

#endif
