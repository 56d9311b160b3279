// A Windows host as the library's users write them: it loads the DLL by
// its module name, looks both functions up by ordinal and by name, and
// converts the test card to TIFF and back, to a path outside ASCII too.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kestovatiff.h"
#include "test_card.h"

namespace {

using Convert = int32_t (*)(const char16_t*, const char16_t*);

int g_checks = 0;
int g_failed = 0;

void Check(bool ok, const char* what)
{
    std::printf("%s %s\n", ok ? "ok    " : "FAILED", what);
    ++g_checks;
    g_failed += ok ? 0 : 1;
}

std::vector<char> Contents(const wchar_t* path)
{
    std::vector<char> bytes;
    if (std::FILE* f = _wfopen(path, L"rb")) {
        char block[65536];
        size_t got;
        while ((got = std::fread(block, 1, sizeof block, f)) > 0) {
            bytes.insert(bytes.end(), block, block + got);
        }
        std::fclose(f);
    }
    return bytes;
}

Convert Find(HMODULE dll, const char* name, WORD ordinal)
{
    const FARPROC byName = GetProcAddress(dll, name);
    const FARPROC byOrdinal = GetProcAddress(dll, MAKEINTRESOURCEA(ordinal));
    Check(byName != nullptr && byName == byOrdinal, (std::string(name) + " by name and by ordinal").c_str());
    return reinterpret_cast<Convert>(reinterpret_cast<void*>(byName));
}

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
    Check(GetProcAddress(dll, MAKEINTRESOURCEA(3)) == nullptr, "no third export");
    if (bmp2tiff == nullptr || tiff2bmp == nullptr) {
        return 1;
    }

    // The TIFF's name is outside ASCII: CJK and U+1F5BC, a surrogate pair.
    const char16_t tiff[] = u"\u5199\u771F-\U0001F5BC.tif";
    for (const wchar_t* old : {L"test-card.bmp", L"test-card-back.bmp", reinterpret_cast<const wchar_t*>(tiff)}) {
        _wremove(old);  // what an earlier run left must not pass for this one's
    }
    Check(kestovatiff_cli::WriteTestCard("test-card.bmp"), "test card written");
    Check(bmp2tiff(u"test-card.bmp", tiff) == KESTOVATIFF_OK, "Bmp2Tiff returns 999");
    Check(tiff2bmp(tiff, u"test-card-back.bmp") == KESTOVATIFF_OK, "Tiff2Bmp returns 999");
    const std::vector<char> card = Contents(L"test-card.bmp");
    Check(!card.empty() && card == Contents(L"test-card-back.bmp"), "round trip identical, byte for byte");
    Check(Contents(reinterpret_cast<const wchar_t*>(tiff)).size() ==
              3 * kestovatiff_cli::kTestCardWidth * kestovatiff_cli::kTestCardHeight + 206,
          "the TIFF has the layout's size");
    Check(bmp2tiff(u"missing.bmp", u"x.tif") == KESTOVATIFF_ERROR_SOURCE, "a missing source is -2");
    Check(tiff2bmp(u"test-card.bmp", u"x.bmp") == KESTOVATIFF_ERROR_FORMAT, "a BMP given as TIFF is -3");

    FreeLibrary(dll);
    std::printf("%d passed, %d failed\n", g_checks - g_failed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
