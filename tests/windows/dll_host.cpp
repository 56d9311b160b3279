// A Windows host as the library's users write them: it loads the DLL by
// its module name, looks both functions up by ordinal and by name, and
// converts the test card to TIFF and back, to a path outside ASCII too.
// JPEG is refused (the DLLs are built without libjpeg). Then the
// destinations Windows has: read-only, hidden and system, held
// open, NUL, the source itself, one written by four threads at once, paths
// past MAX_PATH; and the errors a host reads from GetLastError().

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kestovatiff.h"
#include "test_card.h"

namespace {

using Convert = int32_t(KESTOVATIFF_CALL*)(const char16_t*, const char16_t*);

int g_checks = 0;
int g_failed = 0;

void Check(bool ok, const char* what)
{
    std::printf("%s %s\n", ok ? "ok    " : "FAILED", what);
    ++g_checks;
    g_failed += ok ? 0 : 1;
}

std::vector<char> Contents(const std::wstring& path)
{
    std::vector<char> bytes;
    if (std::FILE* f = _wfopen(path.c_str(), L"rb")) {
        char block[65536];
        size_t got;
        while ((got = std::fread(block, 1, sizeof block, f)) > 0) {
            bytes.insert(bytes.end(), block, block + got);
        }
        std::fclose(f);
    }
    return bytes;
}

const char16_t* U16(const std::wstring& path)
{
    return reinterpret_cast<const char16_t*>(path.c_str());
}

void WriteText(const std::wstring& path, const char* text)
{
    if (std::FILE* f = _wfopen(path.c_str(), L"wb")) {
        std::fputs(text, f);
        std::fclose(f);
    }
}

// Removes what an earlier run left, read-only or not.
void Remove(const std::wstring& path)
{
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
}

// \\?\ and the full path: reaches paths of any length.
std::wstring LongForm(const std::wstring& relative)
{
    wchar_t full[4096];
    const DWORD length = GetFullPathNameW(relative.c_str(), 4096, full, nullptr);
    return L"\\\\?\\" + std::wstring(full, length);
}

void MakeFolders(const std::wstring& relative)
{
    for (size_t at = relative.find(L'\\'); at != std::wstring::npos; at = relative.find(L'\\', at + 1)) {
        CreateDirectoryW(LongForm(relative.substr(0, at)).c_str(), nullptr);
    }
    CreateDirectoryW(LongForm(relative).c_str(), nullptr);
}

// Counts the temporary files in a folder, or removes what an earlier run left.
int TempFilesIn(const std::wstring& folder, bool remove = false)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*.tmp").c_str(), &found);
    int count = 0;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (remove) {
                Remove(folder + L"\\" + found.cFileName);
            } else {
                std::printf("       left behind: %ls\\%ls\n", folder.c_str(), found.cFileName);
                ++count;
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return count;
}

// Both directions, new and replaced, on a thread with a 128 KiB stack.
Convert g_toTiff = nullptr;
Convert g_toBmp = nullptr;
bool g_smallStackOk = false;

DWORD WINAPI ConvertOnSmallStack(void*)
{
    g_smallStackOk = g_toTiff(u"test-card.bmp", u"small-stack.tif") == KESTOVATIFF_OK &&
                     g_toTiff(u"test-card.bmp", u"small-stack.tif") == KESTOVATIFF_OK &&
                     g_toBmp(u"small-stack.tif", u"small-stack.bmp") == KESTOVATIFF_OK;
    return 0;
}

Convert g_shared = nullptr;
LONG g_sharedFailures = 0;

DWORD WINAPI WriteShared(void*)
{
    for (int i = 0; i < 5; ++i) {
        if (g_shared(u"test-card.bmp", u"shared.tif") != KESTOVATIFF_OK) {
            InterlockedIncrement(&g_sharedFailures);
        }
    }
    return 0;
}

// The DLL's own calls to FlushFileBuffers and MoveFileExW, recorded in
// order: its import table is pointed at these, which call the system's.
std::string g_calls;
BOOL(WINAPI* g_flush)(HANDLE) = nullptr;
BOOL(WINAPI* g_move)(LPCWSTR, LPCWSTR, DWORD) = nullptr;

BOOL WINAPI RecordFlush(HANDLE file)
{
    g_calls += 'f';
    return g_flush(file);
}

BOOL WINAPI RecordMove(LPCWSTR from, LPCWSTR to, DWORD flags)
{
    g_calls += 'm';
    return g_move(from, to, flags);
}

// Points the DLL's import of KERNEL32.dll!`name` at `hook`, and returns
// what it pointed at.
void* HookImport(HMODULE dll, const char* name, void* hook)
{
    auto* base = reinterpret_cast<BYTE*>(dll);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* module = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         module->Name != 0; ++module) {
        if (_stricmp(reinterpret_cast<const char*>(base + module->Name), "KERNEL32.dll") != 0) {
            continue;
        }
        auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                continue;
            }
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), name) == 0) {
                DWORD old = 0;
                VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old);
                void* original = reinterpret_cast<void*>(slots->u1.Function);
                slots->u1.Function = reinterpret_cast<ULONG_PTR>(hook);
                VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
                return original;
            }
        }
    }
    return nullptr;
}

template <typename Function = Convert>
Function Find(HMODULE dll, const char* name, WORD ordinal)
{
    const FARPROC byName = GetProcAddress(dll, name);
    const FARPROC byOrdinal = GetProcAddress(dll, MAKEINTRESOURCEA(ordinal));
    Check(byName != nullptr && byName == byOrdinal, (std::string(name) + " by name and by ordinal").c_str());
    return reinterpret_cast<Function>(reinterpret_cast<void*>(byName));
}

#if defined(__i386__)
// Calls a conversion as a 32-bit C host does, pushing the arguments and
// removing them itself afterwards, and returns how far the stack pointer
// moved: 0, unless the function removed them too, as __stdcall does (-8).
int StackMoved(Convert convert, const char16_t* from, const char16_t* to, int32_t* result)
{
    int moved = 0;
    int saved = 0;
    auto* function = reinterpret_cast<void*>(convert);
    asm volatile(
        "movl %%esp, %%ebx\n\t"
        "andl $-16, %%esp\n\t"  // aligned as the compiler's own calls are
        "subl $8, %%esp\n\t"
        "movl %%esp, %%edi\n\t"
        "pushl %%edx\n\t"
        "pushl %%ecx\n\t"
        "call *%%eax\n\t"
        "addl $8, %%esp\n\t"
        "subl %%esp, %%edi\n\t"
        "movl %%ebx, %%esp"
        : "=D"(moved), "=b"(saved), "+a"(function), "+c"(from), "+d"(to)
        :
        : "memory", "cc");
    *result = static_cast<int32_t>(reinterpret_cast<intptr_t>(function));
    return moved;
}

int32_t __stdcall PopsItsArguments(const char16_t*, const char16_t*)
{
    return KESTOVATIFF_OK;
}

// The C calling convention the header states: the caller's stack is as it
// was after each call, success or failure.
void CheckCallingConvention(Convert bmp2tiff, Convert tiff2bmp)
{
    int32_t result = 0;
    Check(StackMoved(reinterpret_cast<Convert>(reinterpret_cast<void*>(PopsItsArguments)), u"a", u"b", &result) == -8,
          "a __stdcall function moves the caller's stack");
    Check(StackMoved(bmp2tiff, u"test-card.bmp", u"cdecl.tif", &result) == 0 && result == KESTOVATIFF_OK,
          "Bmp2Tiff is __cdecl: the caller's stack as it was");
    Check(StackMoved(tiff2bmp, u"missing.tif", u"cdecl.bmp", &result) == 0 && result == KESTOVATIFF_ERROR_SOURCE,
          "Tiff2Bmp is __cdecl, failing too");
    Remove(L"cdecl.tif");
}
#endif

}  // namespace

int main()
{
    HMODULE dll = LoadLibraryW(L"KESTOVATIFF.dll");
    Check(dll != nullptr, "LoadLibrary(\"KESTOVATIFF.dll\")");
    if (dll == nullptr) {
        return 1;
    }
    const Convert bmp2tiff = Find(dll, "Bmp2Tiff", 1);
    const Convert tiff2bmp = Find(dll, "Tiff2Bmp", 2);
    const auto convert = Find<decltype(&KestovaConvert)>(dll, "KestovaConvert", 3);
    Check(GetProcAddress(dll, MAKEINTRESOURCEA(4)) == nullptr, "no fourth export");
    if (bmp2tiff == nullptr || tiff2bmp == nullptr || convert == nullptr) {
        return 1;
    }

    // The TIFF's name is outside ASCII: CJK and U+1F5BC, a surrogate pair.
    const char16_t tiff[] = u"\u5199\u771F-\U0001F5BC.tif";
    for (const wchar_t* old : {L"test-card.bmp", L"test-card-back.bmp", reinterpret_cast<const wchar_t*>(tiff)}) {
        _wremove(old);  // what an earlier run left must not pass for this one's
    }
    TempFilesIn(L".", true);
    const std::vector<uint8_t> written = kestovatiff_cli::TestCardBmp();
    std::FILE* cardFile = std::fopen("test-card.bmp", "wb");
    Check(cardFile != nullptr && std::fwrite(written.data(), 1, written.size(), cardFile) == written.size() &&
              std::fclose(cardFile) == 0,
          "test card written");
    Check(bmp2tiff(u"test-card.bmp", tiff) == KESTOVATIFF_OK, "Bmp2Tiff returns 999");
    Check(tiff2bmp(tiff, u"test-card-back.bmp") == KESTOVATIFF_OK, "Tiff2Bmp returns 999");
    const std::vector<char> card = Contents(L"test-card.bmp");
    Check(!card.empty() && card == Contents(L"test-card-back.bmp"), "round trip identical, byte for byte");
    const size_t tiffSize = 3 * kestovatiff_cli::kTestCardWidth * kestovatiff_cli::kTestCardHeight + 206;
    Check(Contents(reinterpret_cast<const wchar_t*>(tiff)).size() == tiffSize, "the TIFF has the layout's size");
    Check(tiff2bmp(u"test-card.bmp", u"x.bmp") == KESTOVATIFF_ERROR_FORMAT, "a BMP given as TIFF is -3");
    KestovaOptions options = {sizeof options, KESTOVA_FLAG_PADDED_ROWS, 0, 0, -1, 1, 0};
    Check(convert(tiff, u"padded.bmp", &options) == KESTOVATIFF_OK && options.reason == KESTOVA_REASON_NONE &&
              Contents(L"padded.bmp") == card,
          "KestovaConvert's padded rows: the test card's width needs no padding");
    options.flags = 0x80000000u;
    Check(convert(tiff, u"padded.bmp", &options) == KESTOVATIFF_ERROR_ARGUMENT &&
              options.reason == KESTOVA_REASON_OPTIONS_FLAGS,
          "an unknown flag is -1");
    Remove(L"padded.bmp");
    // The DLLs are built without libjpeg: the TIFF with Compression 7
    // (JPEG) in its directory is refused, and nothing is written.
    std::vector<char> jpeg = Contents(reinterpret_cast<const wchar_t*>(tiff));
    const auto at = [&](size_t i, int bytes) {
        size_t v = 0;
        for (int k = 0; k < bytes; ++k) {
            v = jpeg[0] == 'I' ? v | size_t{static_cast<uint8_t>(jpeg[i + k])} << (8 * k)
                               : v << 8 | static_cast<uint8_t>(jpeg[i + k]);
        }
        return v;
    };
    for (size_t entry = at(4, 4) + 2, end = entry + 12 * at(at(4, 4), 2); entry < end; entry += 12) {
        if (at(entry, 2) == 259) {
            jpeg[entry + (jpeg[0] == 'I' ? 8 : 9)] = 7;
        }
    }
    if (std::FILE* f = _wfopen(L"jpeg.tif", L"wb")) {
        std::fwrite(jpeg.data(), 1, jpeg.size(), f);
        std::fclose(f);
    }
    _wremove(L"jpeg.bmp");
    Check(tiff2bmp(u"jpeg.tif", u"jpeg.bmp") == KESTOVATIFF_ERROR_FORMAT && Contents(L"jpeg.bmp").empty() &&
              GetFileAttributesW(L"jpeg.bmp") == INVALID_FILE_ATTRIBUTES,
          "JPEG, which this build does not read, is -3, nothing written");
    Remove(L"jpeg.tif");
#if defined(__i386__)
    CheckCallingConvention(bmp2tiff, tiff2bmp);
#endif

    // What went wrong is in GetLastError() too: a host with its own C
    // runtime never sees the errno of msvcrt.dll.
    Check(bmp2tiff(u"missing.bmp", u"x.tif") == KESTOVATIFF_ERROR_SOURCE && GetLastError() == ERROR_FILE_NOT_FOUND,
          "a missing source is -2, ERROR_FILE_NOT_FOUND");
    const char16_t unpaired[] = {u'x', 0xD800, u'.', u't', u'i', u'f', 0};
    Check(bmp2tiff(u"test-card.bmp", unpaired) == KESTOVATIFF_ERROR_ARGUMENT &&
              GetLastError() == ERROR_INVALID_PARAMETER,
          "an unpaired surrogate is -1, ERROR_INVALID_PARAMETER");
    CreateDirectoryW(L"folder", nullptr);
    Check(bmp2tiff(u"folder", u"x.tif") == KESTOVATIFF_ERROR_SOURCE && errno == EISDIR,
          "a folder as source is -2, EISDIR");
    Check(bmp2tiff(u"NUL", u"x.tif") == KESTOVATIFF_ERROR_SOURCE, "NUL as source is -2");
    Check(bmp2tiff(u"test-card.bmp", u"folder") == KESTOVATIFF_ERROR_DESTINATION && errno == EISDIR,
          "a folder as destination is -5, EISDIR");

    Remove(L"read-only.tif");
    WriteText(L"read-only.tif", "keep");
    SetFileAttributesW(L"read-only.tif", FILE_ATTRIBUTE_READONLY);
    errno = 0;
    Check(bmp2tiff(u"test-card.bmp", u"read-only.tif") == KESTOVATIFF_ERROR_DESTINATION &&
              GetLastError() == ERROR_ACCESS_DENIED && errno == EACCES,
          "a read-only destination is -5, ERROR_ACCESS_DENIED, EACCES");
    Check(Contents(L"read-only.tif") == std::vector<char>{'k', 'e', 'e', 'p'}, "... and left as it was");
    Remove(L"read-only.tif");

    // The system does not replace a file someone holds open: refused after
    // retrying for a moment, and the temporary file removed.
    Remove(L"held.tif");
    WriteText(L"held.tif", "held");
    HANDLE held = CreateFileW(L"held.tif", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    const int32_t heldResult = bmp2tiff(u"test-card.bmp", u"held.tif");
    const DWORD heldError = GetLastError();
    CloseHandle(held);
    Check(heldResult == KESTOVATIFF_ERROR_DESTINATION &&
              (heldError == ERROR_ACCESS_DENIED || heldError == ERROR_SHARING_VIOLATION) &&
              Contents(L"held.tif") == std::vector<char>{'h', 'e', 'l', 'd'},
          "a destination held open is -5 and left as it was");

    const DWORD hiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    Remove(L"hidden.tif");
    WriteText(L"hidden.tif", "old");
    SetFileAttributesW(L"hidden.tif", hiddenSystem);
    Check(bmp2tiff(u"test-card.bmp", u"hidden.tif") == KESTOVATIFF_OK && Contents(L"hidden.tif").size() == tiffSize,
          "a hidden, system destination is replaced");
    const DWORD kept = GetFileAttributesW(L"hidden.tif");
    Check(kept != INVALID_FILE_ATTRIBUTES && (kept & hiddenSystem) == hiddenSystem,
          "... and is still hidden and system");
    Remove(L"hidden.tif");

    Check(bmp2tiff(u"test-card.bmp", u"NUL") == KESTOVATIFF_OK, "NUL as destination is written in place: 999");

    // A run-length BMP, whose rows are written at their offsets: staged
    // first when the destination is a device. 3 x 2, palette (1,2,3) and
    // (4,5,6) as blue, green, red; bottom row three of entry 1, top row
    // 0, 1, 0 given one by one.
    const unsigned char rle[] = {
        'B', 'M', 76, 0, 0, 0, 0, 0, 0, 0, 62, 0, 0, 0,                    // file header
        40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 8, 0, 1, 0, 0, 0,       // 3 x 2, 8 bits, BI_RLE8
        14, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0,       // 14 bytes, 2 colours
        1, 2, 3, 0, 4, 5, 6, 0,                                            // palette
        3, 1, 0, 0, 0, 3, 0, 1, 0, 0, 0, 0, 0, 1,                          // runs
    };
    Remove(L"rle.bmp");
    if (std::FILE* f = _wfopen(L"rle.bmp", L"wb")) {
        std::fwrite(rle, 1, sizeof rle, f);
        std::fclose(f);
    }
    const std::vector<char> rleTiff = [&] {
        Remove(L"rle.tif");
        return bmp2tiff(u"rle.bmp", u"rle.tif") == KESTOVATIFF_OK ? Contents(L"rle.tif") : std::vector<char>{};
    }();
    const char rgb[] = {3, 2, 1, 6, 5, 4, 3, 2, 1, 6, 5, 4, 6, 5, 4, 6, 5, 4};
    Check(rleTiff.size() == 18 + 206 && std::equal(rgb, rgb + 18, rleTiff.begin() + 8),
          "a run-length BMP converts, rows top first");
    Check(bmp2tiff(u"rle.bmp", u"NUL") == KESTOVATIFF_OK, "... and to NUL, staged in the temporary folder");
    // Taller than one output buffer: its rows are written at offsets in
    // several pieces, and the directory after them must still land at the
    // end. 100 x 1000, each row one run of entry y % 2.
    {
        std::vector<unsigned char> tall(rle, rle + 62);
        for (int y = 0; y < 1000; ++y) {
            tall.insert(tall.end(), {100, static_cast<unsigned char>(y % 2), 0, 0});
        }
        tall.insert(tall.end(), {0, 1});
        const auto put32 = [&](size_t at, uint32_t v) {
            for (int i = 0; i < 4; ++i) tall[at + i] = static_cast<unsigned char>(v >> (8 * i));
        };
        put32(2, static_cast<uint32_t>(tall.size()));
        put32(18, 100);
        put32(22, 1000);
        put32(34, static_cast<uint32_t>(tall.size() - 62));
        if (std::FILE* f = _wfopen(L"rle.bmp", L"wb")) {
            std::fwrite(tall.data(), 1, tall.size(), f);
            std::fclose(f);
        }
        Remove(L"rle.tif");
        const std::vector<char> tiff =
            bmp2tiff(u"rle.bmp", u"rle.tif") == KESTOVATIFF_OK ? Contents(L"rle.tif") : std::vector<char>{};
        const size_t pixels = 3 * 100 * 1000;
        // Top row first: row 999 is entry 1, (6, 5, 4); the last row entry 0.
        // The directory offset is big-endian: its low byte last.
        Check(tiff.size() == pixels + 206 && tiff[7] == static_cast<char>((8 + pixels) & 0xFF) &&
                  tiff[8] == 6 && tiff[8 + pixels - 3] == 3,
              "a run-length BMP of many buffers converts, its directory at the end");
    }
    Remove(L"rle.bmp");
    Remove(L"rle.tif");

    // Flushed before it replaces a file; a new file is not flushed.
    g_flush = reinterpret_cast<BOOL(WINAPI*)(HANDLE)>(
        HookImport(dll, "FlushFileBuffers", reinterpret_cast<void*>(RecordFlush)));
    g_move = reinterpret_cast<BOOL(WINAPI*)(LPCWSTR, LPCWSTR, DWORD)>(
        HookImport(dll, "MoveFileExW", reinterpret_cast<void*>(RecordMove)));
    Check(g_flush != nullptr && g_move != nullptr, "the DLL imports FlushFileBuffers and MoveFileExW");
    if (g_flush != nullptr && g_move != nullptr) {
        Remove(L"flushed.tif");
        g_calls.clear();
        const bool created = bmp2tiff(u"test-card.bmp", u"flushed.tif") == KESTOVATIFF_OK;
        Check(created && g_calls == "m", ("a new file is not flushed: " + g_calls).c_str());
        g_calls.clear();
        const bool replaced = bmp2tiff(u"test-card.bmp", u"flushed.tif") == KESTOVATIFF_OK;
        Check(replaced && g_calls == "fm", ("a replaced file is flushed, then moved: " + g_calls).c_str());
        Remove(L"flushed.tif");
    }

    // The temporary file's name takes 241 units of this one: not half of
    // the surrogate pair at 240 and 241.
    const std::wstring longName =
        std::wstring(240, L'a') + reinterpret_cast<const wchar_t*>(u"\U0001F5BC.tif");
    Remove(longName);
    Check(bmp2tiff(u"test-card.bmp", U16(longName)) == KESTOVATIFF_OK && Contents(longName).size() == tiffSize,
          "a 246-unit name ending in a surrogate pair");

    Check(CopyFileW(L"test-card.bmp", L"self.bin", FALSE) && bmp2tiff(u"self.bin", u"self.bin") == KESTOVATIFF_OK &&
              tiff2bmp(u"self.bin", u"self.bin") == KESTOVATIFF_OK && Contents(L"self.bin") == card,
          "a file converted onto itself and back is the same");

    g_toTiff = bmp2tiff;
    g_toBmp = tiff2bmp;
    HANDLE small = CreateThread(nullptr, 128 * 1024, ConvertOnSmallStack, nullptr,
                                STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    WaitForSingleObject(small, INFINITE);
    CloseHandle(small);
    Check(g_smallStackOk && Contents(L"small-stack.bmp") == card, "calls fit in a 128 KiB thread stack");
    Remove(L"small-stack.tif");
    Remove(L"small-stack.bmp");

    Remove(L"shared.tif");
    g_shared = bmp2tiff;
    HANDLE writers[4];
    for (HANDLE& writer : writers) {
        writer = CreateThread(nullptr, 0, WriteShared, nullptr, 0, nullptr);
    }
    WaitForMultipleObjects(4, writers, TRUE, INFINITE);
    for (HANDLE writer : writers) {
        CloseHandle(writer);
    }
    Check(g_sharedFailures == 0 && Contents(L"shared.tif").size() == tiffSize,
          "four threads writing one destination: all 999, one whole file");

    // Folders that put a destination's full path at 250 units, so that its
    // temporary file's passes MAX_PATH; and one more past it.
    wchar_t here[MAX_PATH];
    const size_t hereLength = GetCurrentDirectoryW(MAX_PATH, here);
    const size_t deepLength = 250 - hereLength - 1 - std::wcslen(L"\\card.tif");
    std::wstring deep = L"deep";
    while (deep.size() < deepLength) {
        const size_t left = deepLength - deep.size();
        deep += left > 1 ? L"\\" + std::wstring(std::min<size_t>(left - 1, 100), L'd') : L"d";
    }
    const std::wstring deeper = deep + L"\\" + std::wstring(60, L'p');
    MakeFolders(deeper);
    TempFilesIn(LongForm(deep), true);
    TempFilesIn(LongForm(deeper), true);
    for (const std::wstring& dest : {deep + L"\\card.tif", deeper + L"\\card.tif"}) {
        Remove(LongForm(dest));
        for (const char* what : {"new", "replaced"}) {
            const std::string units = std::to_string(LongForm(dest).size() - 4);
            Check(bmp2tiff(u"test-card.bmp", U16(dest)) == KESTOVATIFF_OK &&
                      Contents(LongForm(dest)).size() == tiffSize,
                  ("a destination of " + units + " units, " + what).c_str());
        }
    }
    Check(TempFilesIn(L".") == 0 && TempFilesIn(LongForm(deep)) == 0 && TempFilesIn(LongForm(deeper)) == 0,
          "no temporary file left behind");

    FreeLibrary(dll);
    std::printf("%d passed, %d failed\n", g_checks - g_failed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
