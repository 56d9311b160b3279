// Many files at once: kestovatiff [options] -o DIR SOURCE...
#pragma once

// The options' part of --help.
#define KESTOVATIFF_BATCH_HELP                                                      \
    "Many files: each SOURCE is converted into DIR, named after it with the\n"    \
    "new extension (.tif from a BMP, .bmp from a TIFF). A SOURCE that is a\n"      \
    "directory gives the pictures in it (not its hidden files); other files\n"    \
    "are reported and skipped. Two sources that would make one output name are\n" \
    "refused before anything is converted; one file named twice is converted\n"  \
    "once. An existing output is replaced; one that is not a regular file (a\n"  \
    "FIFO, a device or a socket) is reported and skipped.\n"                     \
    "\n"                                                                           \
    "  -o, --output DIR\n"                                                        \
    "           write the outputs into DIR (made if missing)\n"                    \
    "  -r, --recursive\n"                                                         \
    "           go into SOURCE directories' subdirectories too, and make the\n"    \
    "           same subdirectories in DIR; links to directories are not\n"        \
    "           followed, but reported and skipped\n"                              \
    "  -j, --jobs N\n"                                                            \
    "           convert N files at once (default: one per processor)\n"           \
    "  -n, --no-clobber\n"                                                        \
    "           keep outputs that exist already, and report them skipped\n"       \
    "  -q, --quiet\n"                                                             \
    "           no progress line (there is none either when standard error\n"     \
    "           is not a terminal), and no notice of files skipped\n"              \
    "  --       the end of the options: what follows is a file, even if it\n"     \
    "           starts with -. A file named - is a file, not standard input.\n"   \
    "\n"                                                                           \
    "A batch ends with one line: how many files were converted, skipped and\n"   \
    "failed, bytes and time. On SIGINT or SIGTERM no new file starts, those\n"    \
    "under way finish, the line is printed, and kestovatiff ends by that\n"      \
    "signal (status 130 or 143); a second signal abandons the conversions of\n"  \
    "new files at once (they have no name until complete) and waits only for\n"  \
    "those replacing a file, never for one held by a FIFO or a device.\n"

#include "arguments.h"

namespace kestovatiff_cli {

// Runs the batch the command line describes (arguments.batch), with the
// library's options it asks for. Returns the exit status (or ends the
// process by the signal that stopped it).
int RunBatch(const Arguments& arguments);

}  // namespace kestovatiff_cli
