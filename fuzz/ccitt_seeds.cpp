// Seeds for fuzz_ccitt, written by make_seeds: small bilevel pictures coded
// in each fax coding by a plain encoder (1-D rows; 2-D rows as horizontal
// pairs, or all vertical when a row repeats the one above), with EOLs, fill
// bits, RTC and EOFB as each coding has them, and the hostile streams of
// the tests. Each after the four bytes of the request and the three of
// fuzz_ccitt's setting.

#include <algorithm>
#include <string>
#include <vector>

#include "ccitt_seeds.h"
#include "codecs/ccitt.h"
#include "test_files.h"
#include "tiff_encoders.h"

namespace {

using kestova::CcittCode;

const std::string kEol = "000000000001";

std::string CodeBits(const CcittCode& c) { return tiff_encoders::BitText(c.code, c.bits); }

std::string RunBits(uint32_t run, bool black)
{
    const auto& codes = black ? kestova::kCcittBlackCodes : kestova::kCcittWhiteCodes;
    std::string text;
    while (run >= 64) {
        const uint32_t makeUp = std::min(run / 64 * 64, 2560u);
        for (const CcittCode& c : codes) {
            text += c.run == makeUp ? CodeBits(c) : "";
        }
        for (const CcittCode& c : kestova::kCcittExtendedCodes) {
            text += c.run == makeUp ? CodeBits(c) : "";
        }
        run -= makeUp;
    }
    return text + CodeBits(codes[run]);
}

std::vector<uint32_t> Runs(const std::vector<uint8_t>& row)  // white first
{
    std::vector<uint32_t> runs;
    uint8_t colour = 0;
    uint32_t run = 0;
    for (const uint8_t pixel : row) {
        if (pixel != colour) {
            runs.push_back(run);
            run = 0;
            colour = pixel;
        }
        ++run;
    }
    runs.push_back(run);
    return runs;
}

std::string Row1D(const std::vector<uint8_t>& row)
{
    std::string text;
    const std::vector<uint32_t> runs = Runs(row);
    for (size_t i = 0; i < runs.size(); ++i) {
        text += RunBits(runs[i], i % 2 == 1);
    }
    return text;
}

std::string Row2D(const std::vector<uint8_t>& row, const std::vector<uint8_t>& above)
{
    std::string text;
    if (row == above) {
        return std::string(Runs(row).size(), '1');  // V0 at each change, and at the row's end
    }
    std::vector<uint32_t> runs = Runs(row);
    runs.push_back(0);
    for (size_t i = 0; i + 1 < runs.size(); i += 2) {
        text += "001" + RunBits(runs[i], false) + RunBits(runs[i + 1], true);
    }
    return text;
}

}  // namespace

testing_files::Bytes CcittEncode(uint32_t compression, uint32_t options, const testing_files::Bytes& packed,
                                 uint32_t width, uint32_t height)
{
    std::string bits;
    std::vector<uint8_t> above(width, 0);
    const size_t rowBytes = (width + 7) / 8;
    for (uint32_t y = 0; y < height; ++y) {
        std::vector<uint8_t> row(width);
        for (uint32_t x = 0; x < width; ++x) {
            row[x] = static_cast<uint8_t>(packed[y * rowBytes + x / 8] >> (7 - x % 8) & 1);
        }
        if (compression == 2) {
            bits += Row1D(row);
            bits.append((8 - bits.size() % 8) % 8, '0');
        } else if (compression == 4) {
            bits += Row2D(row, above);
        } else {
            if ((options & 4) != 0) {
                bits.append((8 - (bits.size() + 12) % 8) % 8, '0');
            }
            bits += kEol;
            if ((options & 1) != 0) {
                bits += y % 3 == 0 ? "1" + Row1D(row) : "0" + Row2D(row, above);
            } else {
                bits += Row1D(row);
            }
        }
        above = row;
    }
    for (int i = 0; compression != 2 && i < (compression == 3 ? 6 : 2); ++i) {
        bits += kEol + (compression == 3 && (options & 1) != 0 ? "1" : "");
    }
    return tiff_encoders::FromBitText(bits);
}

void CcittSeeds(const std::string& dir)
{
    int count = 0;
    auto seed = [&](size_t size, uint8_t setting, uint32_t width, const std::string& bits) {
        testing_files::Bytes bytes = {5, static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8), 100, setting,
                                      static_cast<uint8_t>(width >> 8), static_cast<uint8_t>(width)};
        const testing_files::Bytes stream = tiff_encoders::FromBitText(bits);
        bytes.insert(bytes.end(), stream.begin(), stream.end());
        testing_files::WriteFile(dir + "/ccitt-" + std::to_string(++count), bytes);
    };
    for (const uint32_t width : {1u, 9u, 70u, 200u}) {
        const uint32_t height = 6;
        std::vector<std::vector<uint8_t>> rows(height, std::vector<uint8_t>(width));
        for (uint32_t y = 0; y < height; ++y) {
            for (uint32_t x = 0; x < width; ++x) {
                rows[y][x] = static_cast<uint8_t>(y == 3 ? rows[2][x] : ((x / 3 + y) % 5 == 0 || x % 11 < 2) ? 1 : 0);
            }
        }
        const size_t size = size_t{(width + 7) / 8} * height;
        std::string mh;
        std::string t4;
        std::string filled;
        std::string t4TwoD;
        std::string t6;
        std::vector<uint8_t> above(width, 0);
        for (uint32_t y = 0; y < height; ++y) {
            const std::string runs = Row1D(rows[y]);
            mh += runs;
            mh += std::string((8 - mh.size() % 8) % 8, '0');  // each row on a byte
            t4.append(kEol).append(runs);
            filled.append((8 - (filled.size() + 12) % 8) % 8, '0').append(kEol).append(runs);
            t4TwoD.append(kEol).append(y % 3 == 0 ? "1" + runs : "0" + Row2D(rows[y], above));
            t6 += Row2D(rows[y], above);
            above = rows[y];
        }
        std::string rtc;
        std::string rtcTagged;
        for (int i = 0; i < 6; ++i) {
            rtc += kEol;
            rtcTagged += kEol + "1";
        }
        seed(size, 0, width, mh);
        seed(size, 1, width, t4 + rtc);
        seed(size, 1 | 4 << 2, width, filled + rtc);
        seed(size, 1 | 1 << 2, width, t4TwoD + rtcTagged);
        seed(size, 2, width, std::string(t6).append(kEol).append(kEol));  // EOFB
        seed(size, 2, width, t6.substr(0, t6.size() / 2));  // ending mid-row
    }
    // Pass and vertical modes, and refusals, from the tests' table.
    seed(2, 2, 8, "001 0111 011 1 0001 001 00110101 11" + kEol + kEol);
    seed(2, 1 | 1 << 2, 8, kEol + "1 0111 011 0111" + kEol + "0 011 011 1" + kEol + "1");
    seed(1, 2, 8, "0000001111");
    seed(1, 2 | 2 << 2, 8, "1");
    seed(2, 2, 8, "001 0111 11 1 001 1011 11 0000010");
}
