#include "arguments.h"

#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kestovatiff_cli {
namespace {

// Long options without a short one.
enum : int {
    kPadded = 256,
    kUnpadded,
    kReduce,
    kBackground,
    kMaxPixels,
    kDemo,
    kHelp,
    kVersion,
};

const option kLongOptions[] = {
    {"output", required_argument, nullptr, 'o'},
    {"jobs", required_argument, nullptr, 'j'},
    {"recursive", no_argument, nullptr, 'r'},
    {"no-clobber", no_argument, nullptr, 'n'},
    {"quiet", no_argument, nullptr, 'q'},
    {"padded", no_argument, nullptr, kPadded},
    {"unpadded", no_argument, nullptr, kUnpadded},
    {"reduce", no_argument, nullptr, kReduce},
    {"background", required_argument, nullptr, kBackground},
    {"max-pixels", required_argument, nullptr, kMaxPixels},
    {"demo", no_argument, nullptr, kDemo},
    {"help", no_argument, nullptr, kHelp},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0},
};

bool ParseNumber(const char* text, uint64_t lowest, uint64_t highest, uint64_t& value)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || parsed < lowest || parsed > highest) {
        return false;
    }
    value = parsed;
    return true;
}

// A name, or #RRGGBB.
bool ParseColour(const char* text, uint32_t& colour)
{
    // The names --help, the manual page and the Python package give too.
    const std::pair<const char*, uint32_t> names[] = {{"white", 0xFFFFFF}, {"black", 0x000000}};
    for (const auto& [name, value] : names) {
        if (strcasecmp(text, name) == 0) {
            colour = value;
            return true;
        }
    }
    if (text[0] != '#' || std::strlen(text) != 7 || std::strspn(text + 1, "0123456789abcdefABCDEF") != 6) {
        return false;
    }
    colour = static_cast<uint32_t>(std::strtoul(text + 1, nullptr, 16));
    return true;
}

// What the number in a reason's value is, for the message.
std::string ValueText(int32_t reason, uint64_t value)
{
    const std::string number = std::to_string(value);
    switch (reason) {
    case KESTOVA_REASON_SOURCE_UNREADABLE:
    case KESTOVA_REASON_DESTINATION:
    case KESTOVA_REASON_NOT_REGULAR_FILE:
        // The library opens regular files only: a pipe or a device is ESPIPE.
        return value == ESPIPE && reason == KESTOVA_REASON_SOURCE_UNREADABLE
                   ? "not a regular file"
                   : std::strerror(static_cast<int>(value));
    case KESTOVA_REASON_FILE_SHORT: return "it must reach byte " + number;
    case KESTOVA_REASON_TIFF_COMPRESSION:
    case KESTOVA_REASON_CODED_DATA: return "Compression " + number;
    case KESTOVA_REASON_ORIENTATION: return "Orientation " + number;
    case KESTOVA_REASON_PLANAR: return "PlanarConfiguration " + number;
    case KESTOVA_REASON_TIFF_SAMPLES: return "SamplesPerPixel " + number;
    case KESTOVA_REASON_TIFF_FIELD: return value == 0 ? "the header" : "tag " + number;
    case KESTOVA_REASON_TILE_WORK: return number + " bytes";
    case KESTOVA_REASON_DEEP_SAMPLES:
    case KESTOVA_REASON_PALETTE_BITS:
    case KESTOVA_REASON_SAMPLE_BITS:
    case KESTOVA_REASON_BMP_BITS: return number + " bits";
    case KESTOVA_REASON_COLOUR_SPACE: return "PhotometricInterpretation " + number;
    case KESTOVA_REASON_PALETTE_INDEX: return "it holds " + number;
    case KESTOVA_REASON_BMP_COMPRESSION: return "biCompression " + number;
    case KESTOVA_REASON_BMP_HEADER: return "biSize " + number;
    case KESTOVA_REASON_BMP_PLANES: return "biPlanes " + number;
    case KESTOVA_REASON_SAMPLE_FORMAT: return "SampleFormat " + number;
    case KESTOVA_REASON_PREDICTOR: return "Predictor " + number;
    case KESTOVA_REASON_SIDE_TOO_LARGE:
    case KESTOVA_REASON_PICTURE_LIMIT: return number + " pixels";
    default: return "";
    }
}

// The option that lifts a refusal, where one does and was not given.
const char* Hint(int32_t reason, uint32_t flags)
{
    switch (reason) {
    case KESTOVA_REASON_DEEP_SAMPLES:
        return (flags & KESTOVA_FLAG_REDUCE) == 0 ? "--reduce converts them to 8 bits" : nullptr;
    case KESTOVA_REASON_TRANSPARENCY:
        return (flags & KESTOVA_FLAG_FLATTEN) == 0 ? "--background COLOR puts them on a colour" : nullptr;
    case KESTOVA_REASON_PICTURE_LIMIT: return "a larger --max-pixels lets it through";
    default: return nullptr;
    }
}

}  // namespace

int UsageError(const std::string& message)
{
    (void)std::fprintf(stderr, "kestovatiff: %s (kestovatiff --help lists the options)\n", message.c_str());
    return 2;
}

int ParseArguments(int argc, char** argv, Arguments& arguments)
{
    opterr = 0;  // the messages are the host's own
    for (;;) {
        const int c = getopt_long(argc, argv, ":o:j:rnq", kLongOptions, nullptr);
        if (c == -1) {
            break;
        }
        uint64_t number = 0;
        switch (c) {
        case 'o':
            arguments.outDir = optarg;
            arguments.haveOutDir = true;
            arguments.batch = true;
            break;
        case 'j':
            if (!ParseNumber(optarg, 1, kMaxWorkers, number)) {
                return UsageError("-j takes a number of files from 1 to " + std::to_string(kMaxWorkers) + ", not " +
                                  optarg);
            }
            arguments.workers = static_cast<unsigned>(number);
            arguments.batch = true;
            break;
        case 'r': arguments.recurse = arguments.batch = true; break;
        case 'n': arguments.keepExisting = arguments.batch = true; break;
        case 'q': arguments.quiet = arguments.batch = true; break;
        case kPadded: arguments.unpadded = false; break;
        case kUnpadded: arguments.unpadded = true; break;
        case kReduce: arguments.reduce = true; break;
        case kBackground:
            if (!ParseColour(optarg, arguments.background)) {
                return UsageError(std::string("--background takes white, black or #RRGGBB, not ") + optarg);
            }
            arguments.flatten = true;
            break;
        case kMaxPixels:
            if (!ParseNumber(optarg, 0, UINT64_MAX, number)) {  // 0: no limit
                return UsageError(std::string("--max-pixels takes a number of pixels, not ") + optarg);
            }
            arguments.maxPixels = number;
            break;
        case kDemo: arguments.demo = true; break;
        case kHelp: arguments.help = true; break;
        case kVersion: arguments.version = true; break;
        case ':':
            return UsageError(std::string("option ") + argv[optind - 1] + " needs a value");
        default:
            // An unknown short option, alone or in a group ("-rx"), is
            // known by its letter; a long one by its word.
            if (optopt > 0 && optopt < kPadded) {
                return UsageError(std::string("unknown option -") + static_cast<char>(optopt));
            }
            return UsageError(std::string("unknown option ") + argv[optind - 1]);
        }
    }
    arguments.operands.assign(argv + optind, argv + argc);
    return 0;
}

KestovaOptions ConversionOptions(const Arguments& arguments)
{
    KestovaOptions options = {};
    options.size = sizeof options;
    options.flags = (arguments.unpadded ? 0 : KESTOVA_FLAG_PADDED_ROWS) | (arguments.reduce ? KESTOVA_FLAG_REDUCE : 0) |
                    (arguments.flatten ? KESTOVA_FLAG_FLATTEN : 0);
    options.maxPixels = arguments.maxPixels;
    options.background = arguments.background;
    return options;
}

std::string FailureText(int32_t result, const KestovaOptions& options)
{
    const int32_t reason = options.reason;
    std::string text;
    if (reason == KESTOVA_REASON_FORMAT_NOT_READ || reason == KESTOVA_REASON_NONE) {
        text = KestovaTiffResultText(result);  // the general words, which say more
    } else if (reason == KESTOVA_REASON_TEMPORARY_FOLDER) {
        return "no scratch space: no room for the conversion's temporary file (set TMPDIR to a folder with room)";
    } else {
        text = KestovaReasonText(reason);
        if (result == KESTOVATIFF_ERROR_ARGUMENT) {
            text = "bad argument: " + text;
        }
    }
    const bool systems = reason == KESTOVA_REASON_SOURCE_UNREADABLE || reason == KESTOVA_REASON_DESTINATION ||
                         reason == KESTOVA_REASON_NOT_REGULAR_FILE;
    const std::string value = ValueText(reason, options.reasonValue);
    if (!value.empty()) {
        text += systems ? ": " + value : " (" + value + ")";  // after errno, the system's words
    }
    if (const char* hint = Hint(reason, options.flags); hint != nullptr) {
        text += std::string("; ") + hint;
    }
    return text;
}

}  // namespace kestovatiff_cli
