#include "arguments.h"

#include <cstring>

namespace kestovatiff_cli {

bool TakeOption(std::vector<char*>& args, const char* option)
{
    bool found = false;
    for (auto it = args.begin() + (args.empty() ? 0 : 1); it != args.end() && std::strcmp(*it, "--") != 0;) {
        if (std::strcmp(*it, option) == 0) {
            found = true;
            it = args.erase(it);
        } else {
            ++it;
        }
    }
    return found;
}

}  // namespace kestovatiff_cli
