// Conversions on several threads at once, through both exports: each must
// give its own exact result, and concurrent writers of one destination must
// leave one whole file.

#include <atomic>
#include <thread>

#include "kestovatiff.h"
#include "test_files.h"

namespace testing_files {
namespace {

class ConcurrencyTest : public ScratchDir {};

TEST_F(ConcurrencyTest, ThreadsConvertDifferentFilesBothWays)
{
    constexpr int kThreads = 4;
    constexpr int kRounds = 15;
    std::vector<Picture> pictures;
    for (int t = 0; t < kThreads; ++t) {
        pictures.push_back(MakePicture(37 + 50 * static_cast<uint32_t>(t), 23 + static_cast<uint32_t>(t), t));
        WriteFile(Path("in" + std::to_string(t) + ".bmp"), BmpFile(pictures.back()));
    }
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const std::string name = std::to_string(t);
            const std::u16string bmp = Path16("in" + name + ".bmp");
            const std::u16string tiff = Path16("out" + name + ".tif");
            const std::u16string back = Path16("back" + name + ".bmp");
            for (int round = 0; round < kRounds; ++round) {
                if (Bmp2Tiff(bmp.c_str(), tiff.c_str()) != KESTOVATIFF_OK ||
                    Tiff2Bmp(tiff.c_str(), back.c_str()) != KESTOVATIFF_OK) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, 0);
    for (int t = 0; t < kThreads; ++t) {
        const std::string name = std::to_string(t);
        EXPECT_EQ(ReadFile(Path("out" + name + ".tif")), ExpectedTiff(pictures[static_cast<size_t>(t)]));
        EXPECT_EQ(ReadFile(Path("back" + name + ".bmp")), BmpFile(pictures[static_cast<size_t>(t)]));
    }
}

TEST_F(ConcurrencyTest, WritersOfOneDestinationLeaveOneWholeFile)
{
    const Picture a = MakePicture(300, 40, 1);
    const Picture b = MakePicture(41, 301, 2);
    WriteFile(Path("a.bmp"), BmpFile(a));
    WriteFile(Path("b.bmp"), BmpFile(b));
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            const std::u16string source = Path16(t % 2 == 0 ? "a.bmp" : "b.bmp");
            const std::u16string dest = Path16("shared.tif");
            for (int round = 0; round < 10; ++round) {
                if (Bmp2Tiff(source.c_str(), dest.c_str()) != KESTOVATIFF_OK) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, 0);
    const Bytes result = ReadFile(Path("shared.tif"));
    EXPECT_TRUE(result == ExpectedTiff(a) || result == ExpectedTiff(b));
    EXPECT_EQ(Names(), (std::vector<std::string>{"a.bmp", "b.bmp", "shared.tif"}));
}

}  // namespace
}  // namespace testing_files
