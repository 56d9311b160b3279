// Internal result type: the public result values, as a type the compiler
// will not let a caller ignore.
#pragma once

#include <cstdint>

#include "kestovatiff.h"

namespace kestova {

enum class [[nodiscard]] Status : int32_t {
    Ok = KESTOVATIFF_OK,
    BadArgument = KESTOVATIFF_ERROR_ARGUMENT,
    SourceUnreadable = KESTOVATIFF_ERROR_SOURCE,
    NotSupported = KESTOVATIFF_ERROR_FORMAT,
    TooLarge = KESTOVATIFF_ERROR_TOO_LARGE,
    DestinationUnwritable = KESTOVATIFF_ERROR_DESTINATION,
};

}  // namespace kestova
