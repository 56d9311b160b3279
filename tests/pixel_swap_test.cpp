// The pixel swap against the plainest statement of it, over every length and
// row shape that takes a different path through the vector code.

#include <vector>

#include <gtest/gtest.h>

#include "pixel_swap.h"

namespace kestova {
namespace {

std::vector<uint8_t> Numbered(size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    }
    return bytes;
}

TEST(PixelSwapTest, RunsOfEveryLength)
{
    for (size_t size = 0; size <= 300; size += 3) {
        const std::vector<uint8_t> from = Numbered(size);
        std::vector<uint8_t> pixels = from;
        pixels.push_back(0xEE);  // one guard byte
        SwapPixels(pixels.data(), size);
        for (size_t i = 0; i < size; ++i) {
            ASSERT_EQ(pixels[i], from[i / 3 * 3 + 2 - i % 3]) << "size " << size << ", byte " << i;
        }
        EXPECT_EQ(pixels[size], 0xEE) << "size " << size;
    }
}

// Rows are rearranged where they were read: padding taken out, order
// reversed, pixels swapped. Widths cover the vector steps, one-pixel rows
// (reversed byte by byte) and rows wider than the piece two rows are
// exchanged through; counts cover a middle row and none.
TEST(PixelSwapTest, RowsInEitherOrderWithAnyStride)
{
    std::vector<size_t> widths;
    for (size_t rowBytes = 3; rowBytes <= 102; rowBytes += 3) {
        widths.push_back(rowBytes);
    }
    widths.insert(widths.end(), {1533, 1536, 1539, 4611});
    for (const size_t rowBytes : widths) {
        for (const size_t padding : {0, 1, 3}) {
            for (const size_t count : {1, 2, 7, 8, 33}) {
                for (const bool reversed : {false, true}) {
                    const size_t stride = rowBytes + padding;
                    const std::vector<uint8_t> stored = Numbered((count - 1) * stride + rowBytes);
                    std::vector<uint8_t> block = stored;
                    block.push_back(0xEE);
                    SwapRows(block.data(), count, stride, rowBytes, reversed);
                    for (size_t r = 0; r < count; ++r) {
                        const size_t from = (reversed ? count - 1 - r : r) * stride;
                        for (size_t i = 0; i < rowBytes; ++i) {
                            ASSERT_EQ(block[r * rowBytes + i], stored[from + i / 3 * 3 + 2 - i % 3])
                                << rowBytes << " bytes, stride " << stride << ", " << count << " rows"
                                << (reversed ? " reversed" : "") << ", row " << r << ", byte " << i;
                        }
                    }
                    EXPECT_EQ(block.back(), 0xEE);
                }
            }
        }
    }
}

}  // namespace
}  // namespace kestova
