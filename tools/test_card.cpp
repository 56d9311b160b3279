#include "test_card.h"


namespace kestovatiff_cli {
namespace {

struct Rgb {
    uint8_t r, g, b;
};

// Top two thirds: the eight colour bars. Bottom third: red, green and blue
// ramps side by side, so a swapped channel or a flipped picture shows at
// once.
Rgb CardPixel(uint32_t x, uint32_t y)
{
    static const Rgb kBars[8] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                 {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
    if (y < kTestCardHeight * 2 / 3) {
        return kBars[x * 8 / kTestCardWidth];
    }
    const uint32_t third = kTestCardWidth / 3;
    const auto level = static_cast<uint8_t>((x % third) * 255 / (third - 1 == 0 ? 1 : third - 1));
    if (x < third) {
        return {level, 0, 0};
    }
    if (x < 2 * third) {
        return {0, level, 0};
    }
    return {0, 0, level};
}

void PutLe(std::vector<uint8_t>& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

}  // namespace

std::vector<uint8_t> TestCardBmp()
{
    const uint32_t pixelBytes = 3 * kTestCardWidth * kTestCardHeight;
    std::vector<uint8_t> file;
    file.reserve(54 + pixelBytes);
    file.push_back('B');
    file.push_back('M');
    PutLe(file, 54 + pixelBytes, 4);  // bfSize
    PutLe(file, 0, 4);                // bfReserved1, bfReserved2
    PutLe(file, 54, 4);               // bfOffBits
    PutLe(file, 40, 4);               // biSize
    PutLe(file, kTestCardWidth, 4);   // biWidth
    PutLe(file, kTestCardHeight, 4);  // biHeight: bottom-up
    PutLe(file, 1, 2);                // biPlanes
    PutLe(file, 24, 2);               // biBitCount
    PutLe(file, 0, 4);                // biCompression
    PutLe(file, pixelBytes, 4);       // biSizeImage
    for (int field = 0; field < 4; ++field) {
        PutLe(file, 0, 4);  // resolution and colour counts
    }
    for (uint32_t row = 0; row < kTestCardHeight; ++row) {
        const uint32_t y = kTestCardHeight - 1 - row;  // bottom row first
        for (uint32_t x = 0; x < kTestCardWidth; ++x) {
            const Rgb pixel = CardPixel(x, y);
            file.push_back(pixel.b);
            file.push_back(pixel.g);
            file.push_back(pixel.r);
        }
    }
    return file;
}

}  // namespace kestovatiff_cli
