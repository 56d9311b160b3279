"""Converts pictures between BMP and TIFF through the KestovaTIFF library.

    import kestovatiff
    kestovatiff.convert("scan.tif", "scan.bmp", padded=True)

The library is loaded with ctypes, which releases the GIL during each
conversion, so threads convert at once. It is found, in this order: the
file the environment variable KESTOVATIFF_LIBRARY names; the one
`cmake --install` put under this Python's prefix (a virtual environment's
folder, as --prefix "$VIRTUAL_ENV"); the system's search (ldconfig, and
/usr/local/lib, where `cmake --install` puts it by default).
"""

import ctypes
import ctypes.util
import os
import sys
import threading

__all__ = [
    "convert", "bmp_to_tiff", "tiff_to_bmp", "Error", "ArgumentError", "SourceError", "FormatError",
    "TooLargeError", "DestinationError", "reason_text",
]

# Result values (kestovatiff.h).
OK = 999
ERROR_ARGUMENT = -1
ERROR_SOURCE = -2
ERROR_FORMAT = -3
ERROR_TOO_LARGE = -4
ERROR_DESTINATION = -5

# KestovaOptions' flags.
FLAG_PADDED_ROWS = 0x1
FLAG_REDUCE = 0x2
FLAG_FLATTEN = 0x4
FLAG_REGULAR_FILES_ONLY = 0x8

# The reasons of a failure (enum KestovaReason), with the header's words.
# The numbers never change; tests/test_kestovatiff.py checks the table
# against the header.
REASONS = {
    0: "no failure",
    1: "the options hold flags this library does not know",
    2: "the source path is null, empty, too long or not valid UTF-16",
    3: "the destination path is null, empty, too long or not valid UTF-16",
    10: "the source cannot be opened or read",
    20: "a form of picture this library does not read, or a damaged one",
    21: "neither a BMP nor a TIFF",
    22: "the file is shorter than its headers promise",
    23: "a TIFF compression that is not read",
    24: "samples deeper than 8 bits",
    25: "partly transparent pixels",
    26: "a TIFF colour space that is not read",
    27: "a palette index past the palette",
    28: "a BMP compression that is not read",
    29: "a BMP bit count that is not read",
    30: "a BMP info header of a size that is not read",
    31: "a BMP whose planes are not 1",
    32: "BMP channel masks that are not contiguous, or overlap",
    33: "BMP run-length codes that break the format's rules or stop early",
    34: "TIFF samples that are not unsigned integers",
    35: "a TIFF predictor that is not read",
    36: "compressed TIFF data that cannot be decoded",
    37: "TIFF tiles that would decode far more than the picture holds",
    38: "a TIFF orientation that is not read",
    39: "TIFF planes that are not read",
    40: "a TIFF sample count that is not read for its colour",
    41: "a TIFF field that breaks the format's rules or holds a value that is not read",
    42: "TIFF palette indices deeper than 8 bits",
    43: "TIFF samples deeper than any option converts",
    60: "a side too long for the destination format",
    61: "more pixels than the limit the caller set",
    62: "the destination would pass 4 GiB - 1 bytes",
    70: "the destination cannot be written",
    71: "no temporary folder could take the conversion's temporary file",
    72: "the destination is not a regular file (a FIFO, a device, a socket or a directory)",
}

# What the two first exports say, which give no reason.
RESULTS = {
    ERROR_ARGUMENT: "bad argument: the path is null, empty, too long or not valid UTF-16",
    ERROR_SOURCE: "the source cannot be opened or read",
    ERROR_FORMAT: "not a picture this library reads, or a damaged one",
    ERROR_TOO_LARGE: "the picture is too large for the destination format",
    ERROR_DESTINATION: "the destination cannot be written",
}


def reason_text(reason):
    """The library's fixed English words for a reason value."""
    return REASONS.get(reason, "unknown reason")


class Error(Exception):
    """A conversion failed: `result` is the library's result value,
    `reason` the precise reason (0 where the function gives none), `value`
    what the reason concerns (an errno, a TIFF's Compression, a bit depth,
    an offset, a side or a number of pixels), `text` the words for it."""

    def __init__(self, result, reason=0, value=0, path=None):
        self.result = result
        self.reason = reason
        self.value = value
        self.path = path
        self.text = reason_text(reason) if reason else RESULTS.get(result, "unknown result")
        message = self.text
        if value and reason in (10, 70, 71, 72):
            message += ": " + os.strerror(value)
        elif value:
            message += " (%d)" % value
        super().__init__("%s: %s" % (os.fsdecode(path), message) if path is not None else message)


class ArgumentError(Error, ValueError):
    """A bad argument: a path or an option the library refuses."""


class SourceError(Error):
    """The source cannot be opened or read."""


class FormatError(Error):
    """The source is not a picture the library reads, or is damaged."""


class TooLargeError(Error):
    """The picture is too large for the destination or the limit given."""


class DestinationError(Error):
    """The destination cannot be written."""


_ERRORS = {
    ERROR_ARGUMENT: ArgumentError,
    ERROR_SOURCE: SourceError,
    ERROR_FORMAT: FormatError,
    ERROR_TOO_LARGE: TooLargeError,
    ERROR_DESTINATION: DestinationError,
}


class _Options(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_uint32),
        ("flags", ctypes.c_uint32),
        ("maxPixels", ctypes.c_uint64),
        ("background", ctypes.c_uint32),
        ("reason", ctypes.c_int32),
        ("reasonValue", ctypes.c_uint64),
    ]


def _candidates():
    named = os.environ.get("KESTOVATIFF_LIBRARY")
    if named:
        yield named
        return
    if sys.platform == "win32":
        names = ["KESTOVATIFF.dll"]
        folders = [os.path.join(sys.prefix, "bin")]
    else:
        names = ["libkestovatiff.dylib"] if sys.platform == "darwin" else ["libkestovatiff.so.1", "libkestovatiff.so"]
        folders = [os.path.join(sys.prefix, "lib"), os.path.join(sys.prefix, "lib64")]
        multiarch = getattr(sys.implementation, "_multiarch", None)
        if multiarch:
            folders.append(os.path.join(sys.prefix, "lib", multiarch))
    for folder in folders:
        for name in names:
            path = os.path.join(folder, name)
            if os.path.exists(path):
                yield path
    found = ctypes.util.find_library("kestovatiff")
    if found:
        yield found
    yield from names  # the loader's own search
    for name in names:
        yield os.path.join("/usr/local/lib", name)


_library = None
_lock = threading.Lock()


def _load():
    global _library
    with _lock:
        if _library is None:
            tried = []
            for candidate in _candidates():
                try:
                    library = ctypes.CDLL(candidate)
                except OSError as error:
                    tried.append("%s (%s)" % (candidate, error))
                    continue
                for name in ("Bmp2Tiff", "Tiff2Bmp"):
                    getattr(library, name).argtypes = [ctypes.c_void_p, ctypes.c_void_p]
                    getattr(library, name).restype = ctypes.c_int32
                library.KestovaConvert.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.POINTER(_Options)]
                library.KestovaConvert.restype = ctypes.c_int32
                _library = library
                break
            else:
                raise OSError("the KestovaTIFF library was not found; install it with cmake --install, or name it "
                              "in KESTOVATIFF_LIBRARY. Tried: " + "; ".join(tried))
        return _library


def _path16(path, reason):
    """A NUL-terminated UTF-16 buffer for a str, bytes or os.PathLike path.
    File name bytes that are not UTF-8 travel as U+DC80..U+DCFF, the
    library's convention (os.fsdecode's surrogateescape)."""
    name = os.fsdecode(os.fspath(path))
    if "\0" in name:
        raise ArgumentError(ERROR_ARGUMENT, reason, 0, path)
    encoded = name.encode("utf-16-le", "surrogatepass") + b"\0\0"
    return ctypes.create_string_buffer(encoded, len(encoded))


def _colour(background):
    if isinstance(background, bool):
        raise ValueError("background: a colour, not %r" % (background,))
    if isinstance(background, int):
        value = background
    elif isinstance(background, str):
        named = {"white": 0xFFFFFF, "black": 0x000000}
        text = background.lower()
        if text in named:
            value = named[text]
        elif len(text) == 7 and text[0] == "#":
            value = int(text[1:], 16)
        else:
            raise ValueError("background: white, black, #RRGGBB, 0xRRGGBB or (r, g, b), not %r" % background)
    else:
        red, green, blue = background
        if not all(0 <= channel <= 255 for channel in (red, green, blue)):
            raise ValueError("background: channels from 0 to 255, not %r" % (background,))
        value = red << 16 | green << 8 | blue
    if not 0 <= value <= 0xFFFFFF:
        raise ValueError("background: 0xRRGGBB, not %r" % (background,))
    return value


def convert(source, destination, *, padded=False, reduce=False, background=None, max_pixels=0):
    """Converts a BMP to a TIFF or a TIFF to a BMP, as the source's first
    bytes say. padded: BMP rows padded to 4 bytes, the layout every other
    program reads (without it, the library's own unpadded rows). reduce:
    samples deeper than 8 bits reduced to 8. background: partly transparent
    pixels put on this colour. max_pixels: a larger picture is refused
    before anything is written (0: no limit). Raises an Error subclass on
    failure."""
    if isinstance(max_pixels, bool) or not isinstance(max_pixels, int) or max_pixels < 0 or max_pixels >= 1 << 64:
        raise ValueError("max_pixels: a number of pixels, 0 for no limit, not %r" % (max_pixels,))
    options = _Options()
    options.size = ctypes.sizeof(_Options)
    options.flags = ((FLAG_PADDED_ROWS if padded else 0) | (FLAG_REDUCE if reduce else 0) |
                     (FLAG_FLATTEN if background is not None else 0))
    options.maxPixels = max_pixels
    options.background = _colour(background) if background is not None else 0
    source16 = _path16(source, 2)
    destination16 = _path16(destination, 3)
    result = _load().KestovaConvert(source16, destination16, ctypes.byref(options))
    if result != OK:
        where = destination if result == ERROR_DESTINATION or options.reason == 3 else source
        raise _ERRORS.get(result, Error)(result, options.reason, options.reasonValue, where)


def _export(name, source, destination):
    source16 = _path16(source, 2)
    destination16 = _path16(destination, 3)
    result = getattr(_load(), name)(source16, destination16)
    if result != OK:
        raise _ERRORS.get(result, Error)(result, 0, 0, destination if result == ERROR_DESTINATION else source)


def bmp_to_tiff(bmp, tiff):
    """The library's Bmp2Tiff: a BMP to an uncompressed RGB TIFF."""
    _export("Bmp2Tiff", bmp, tiff)


def tiff_to_bmp(tiff, bmp):
    """The library's Tiff2Bmp: a TIFF to a 24-bit BMP in the library's own
    layout (rows unpadded); convert(..., padded=True) pads them."""
    _export("Tiff2Bmp", tiff, bmp)
