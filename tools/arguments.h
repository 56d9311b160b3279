// Command-line options that may stand anywhere before "--".
#pragma once

#include <vector>

namespace kestovatiff_cli {

// True if `option` is among args[1..] before a "--"; every such copy is
// taken out of args.
bool TakeOption(std::vector<char*>& args, const char* option);

}  // namespace kestovatiff_cli
