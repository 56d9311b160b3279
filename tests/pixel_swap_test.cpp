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
        std::vector<uint8_t> to(size + 1, 0xEE);  // one guard byte
        SwapPixels(to.data(), from.data(), size);
        for (size_t i = 0; i < size; ++i) {
            ASSERT_EQ(to[i], from[i / 3 * 3 + 2 - i % 3]) << "size " << size << ", byte " << i;
        }
        EXPECT_EQ(to[size], 0xEE) << "size " << size;
    }
}

TEST(PixelSwapTest, RowsInEitherOrderWithAnyStride)
{
    for (size_t rowBytes = 3; rowBytes <= 102; rowBytes += 3) {
        for (size_t padding : {0, 1, 3}) {
            for (size_t count : {1, 2, 7}) {
                for (bool reversed : {false, true}) {
                    const size_t stride = rowBytes + padding;
                    const std::vector<uint8_t> block = Numbered((count - 1) * stride + rowBytes);
                    std::vector<uint8_t> to(count * rowBytes + 1, 0xEE);
                    SwapRows(to.data(), block.data(), count, stride, rowBytes, reversed);
                    for (size_t r = 0; r < count; ++r) {
                        const size_t stored = reversed ? count - 1 - r : r;
                        for (size_t i = 0; i < rowBytes; ++i) {
                            ASSERT_EQ(to[r * rowBytes + i], block[stored * stride + i / 3 * 3 + 2 - i % 3])
                                << rowBytes << " bytes, stride " << stride << ", " << count << " rows"
                                << (reversed ? " reversed" : "") << ", row " << r << ", byte " << i;
                        }
                    }
                    EXPECT_EQ(to.back(), 0xEE);
                }
            }
        }
    }
}

}  // namespace
}  // namespace kestova
