// The host's command line, parsed once with getopt_long: options may stand
// anywhere among the operands until "--", and every option has a long name
// beside its short one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kestovatiff.h"

namespace kestovatiff_cli {

// The most files converted at once.
constexpr unsigned kMaxWorkers = 256;

struct Arguments {
    // What the library is asked for (KestovaOptions).
    bool unpadded = false;  // --unpadded: the library's own BMP rows
    bool reduce = false;
    bool flatten = false;  // --background
    uint32_t background = 0;
    uint64_t maxPixels = 0;
    // Many files.
    bool batch = false;  // one of the batch's options is given
    bool haveOutDir = false;
    std::string outDir;
    unsigned workers = 0;  // 0: one a processor
    bool recurse = false;
    bool keepExisting = false;
    bool quiet = false;
    // The other modes.
    bool help = false;
    bool version = false;
    bool demo = false;
    std::vector<std::string> operands;
};

// Parses argv. Returns 0, or 2 after printing a usage error.
int ParseArguments(int argc, char** argv, Arguments& arguments);

// Prints "kestovatiff: MESSAGE" and where the options are listed; returns
// 2, the exit status of a usage error.
int UsageError(const std::string& message);

// The library's options for what the command line asks.
KestovaOptions ConversionOptions(const Arguments& arguments);

// The words for a failed call: the reason and the value it concerns, and
// the option that would lift it where there is one.
std::string FailureText(int32_t result, const KestovaOptions& options);

}  // namespace kestovatiff_cli
