// The life of both files in a conversion, shared by the two directions: the
// source is opened and checked before the destination is touched, and it is
// closed before the destination replaces anything, so a file converted onto
// itself works wherever an open file cannot be replaced.
#pragma once

#include <cerrno>

#include "call_notes.h"
#include "output_stream.h"
#include "platform/output_file.h"
#include "platform/source_file.h"
#include "status.h"

namespace kestova {

// Records a destination refused for not being a regular file, when the
// caller asked for regular files only, with errno as its value.
inline Status NotedOutput(CallNotes& notes, Status status)
{
    const int error = errno;
    if (status == Status::DestinationUnwritable && Asked(&notes, KESTOVA_FLAG_REGULAR_FILES_ONLY) &&
        (error == kNotRegularFile || error == EISDIR)) {
        (void)Refuse(&notes, status, KESTOVA_REASON_NOT_REGULAR_FILE, static_cast<uint64_t>(error));
    }
    return status;
}

// Runs one conversion: opens the source, lets `read(SourceFile&,
// OutputAccess&, uint64_t& size)` check it and find the picture (nothing is
// written if it fails; it may ask for positioned output, and gives the
// destination's length), then opens the destination and
// lets `write(SourceFile&, OutputStream&)` fill it. Each returns Ok or the
// failure that stopped it. Both files are closed on every path, and the
// destination replaced only on success. The readers record in `notes` why
// they refused; a bad path is recorded here.
template <typename Read, typename Write>
Status Convert(const char16_t* sourcePath, const char16_t* destPath, CallNotes& notes, Read&& read, Write&& write)
{
    if (sourcePath == nullptr || destPath == nullptr) {
        return Refuse(&notes, Status::BadArgument,
                      sourcePath == nullptr ? KESTOVA_REASON_SOURCE_PATH : KESTOVA_REASON_DESTINATION_PATH);
    }
    SourceFile source;
    if (const Status status = OpenSource(sourcePath, source); status != Status::Ok) {
        return status == Status::BadArgument ? Refuse(&notes, status, KESTOVA_REASON_SOURCE_PATH) : status;
    }
    source.notes = &notes;
    OutputFile file;
    OutputStream out(file);
    OutputAccess access = OutputAccess::Sequential;
    uint64_t size = 0;
    Status status = read(source, access, size);
    if (status == Status::Ok) {
        status = NotedOutput(notes, OpenOutput(destPath, file, out.Idle(), access, size,
                                                       OutputRules{Asked(&notes, KESTOVA_FLAG_REGULAR_FILES_ONLY), notes.folder,
                                                                   Asked(&notes, KESTOVA_FLAG_WRITE_SIGNALS_IGNORED)}));
        if (status == Status::BadArgument) {
            (void)Refuse(&notes, status, KESTOVA_REASON_DESTINATION_PATH);
        }
    }
    if (status == Status::Ok) {
        status = write(source, out);
    }
    if (status == Status::Ok) {
        status = out.Finish();
    }
    CloseSource(source);
    if (status != Status::Ok) {
        DiscardOutput(file);
        return status;
    }
    return NotedOutput(notes, CommitOutput(file, out.Idle()));
}

}  // namespace kestova
