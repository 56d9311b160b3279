// What both conversions do once the source is open and checked: open the
// destination, fill it, close the source, then move the destination into
// place or, on any failure, discard it. The source is closed before the
// destination replaces anything, so a file converted onto itself works
// wherever an open file cannot be replaced.
#pragma once

#include "output_file.h"
#include "output_stream.h"
#include "source_file.h"
#include "status.h"

namespace kestova {

// `write(OutputStream&)` returns Ok or the failure that stopped it.
template <typename Write>
Status WriteDestination(SourceFile& source, const char16_t* destPath, Write&& write)
{
    OutputFile file;
    if (const Status status = OpenOutput(destPath, file); status != Status::Ok) {
        CloseSource(source);
        return status;
    }
    Status status;
    {
        OutputStream out(file);
        status = write(out);
        if (status == Status::Ok) {
            status = out.Finish();
        }
    }
    CloseSource(source);
    if (status != Status::Ok) {
        DiscardOutput(file);
        return status;
    }
    return CommitOutput(file);
}

}  // namespace kestova
