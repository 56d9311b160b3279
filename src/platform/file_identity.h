// What makes a file the same file to its users beyond its bytes: owner,
// group, permission bits, POSIX ACLs and extended attributes. A file that
// replaces another by rename must carry them over, or the rename changes who
// may read it.
#pragma once

#include <sys/stat.h>

#include "output_file.h"

namespace kestova {

// Gives the new file `to` the identity of the existing file `from`, whose
// status is `info`: its owner and group, its extended attributes (ACLs
// among them; attributes `to` got from its directory that `from` lacks are
// removed) and its permission bits without setuid and setgid, which a
// write into `from` would have cleared. False where any of it cannot be
// done: the caller cannot give the file away, an attribute cannot be read
// or set, or does not fit in `scratch`. Then `to` must not replace `from`.
bool CopyIdentity(int from, const struct stat& info, int to, Scratch scratch);

}  // namespace kestova
