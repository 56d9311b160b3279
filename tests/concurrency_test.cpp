// Conversions on several threads at once, through both exports: each must
// give its own exact result, and concurrent writers of one destination must
// leave one whole file.

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "kestovatiff.h"
#include "bmp_forms.h"
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

// Replaced by rename, and written in place (a second name keeps it one
// file): either way the writers take turns.
TEST_F(ConcurrencyTest, WritersOfOneDestinationLeaveOneWholeFile)
{
    const Picture a = MakePicture(300, 40, 1);
    const Picture b = MakePicture(41, 301, 2);
    WriteFile(Path("a.bmp"), BmpFile(a));
    WriteFile(Path("b.bmp"), BmpFile(b));
    for (const bool inPlace : {false, true}) {
        SCOPED_TRACE(inPlace ? "in place" : "by rename");
        if (inPlace) {
            ASSERT_EQ(link(Path("shared.tif").c_str(), Path("second.tif").c_str()), 0);
        }
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
    }
    EXPECT_EQ(Names(), (std::vector<std::string>{"a.bmp", "b.bmp", "second.tif", "shared.tif"}));
}

// Written in place, a file is locked (an open file description lock on
// the whole file) from the reservation to the flush, so that conversions
// into it take turns: one waits while another holds the lock.
TEST_F(ConcurrencyTest, WritersInPlaceTakeTurns)
{
    const Picture picture = MakePicture(30, 20);
    WriteFile(Path("in.bmp"), BmpFile(picture));
    WriteFile(Path("out.tif"), {'o', 'l', 'd'});
    ASSERT_EQ(link(Path("out.tif").c_str(), Path("second.tif").c_str()), 0);
    const int held = open(Path("out.tif").c_str(), O_RDWR);
    ASSERT_GE(held, 0);
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    ASSERT_EQ(fcntl(held, F_OFD_SETLK, &whole), 0);
    std::atomic<int32_t> result{0};
    std::thread writer([&] { result = Bmp2Tiff(Path16("in.bmp").c_str(), Path16("out.tif").c_str()); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(result, 0) << "finished while another held the file";
    EXPECT_EQ(ReadFile(Path("second.tif")), (Bytes{'o', 'l', 'd'}));
    whole.l_type = F_UNLCK;
    ASSERT_EQ(fcntl(held, F_OFD_SETLK, &whole), 0);
    writer.join();
    close(held);
    EXPECT_EQ(result, KESTOVATIFF_OK);
    EXPECT_EQ(ReadFile(Path("second.tif")), ExpectedTiff(picture));
}

// A library call runs on its host's threads, whose stacks may be small:
// 128 KiB is musl's default. Every path through a call must fit: narrow,
// wide and tall pictures, both directions, new, replaced and in-place
// destinations.
TEST_F(ConcurrencyTest, CallsFitInA128KiBThreadStack)
{
    const Picture pictures[] = {MakePicture(5, 3), MakePicture(65535, 2), MakePicture(3, 20000)};
    WriteFile(Path("linked.tif"), {1});
    ASSERT_EQ(link(Path("linked.tif").c_str(), Path("other.tif").c_str()), 0);
    struct Work {
        std::u16string bmp, tiff, back, linked, padded;
        int32_t results[5];
    } work[3];
    for (size_t i = 0; i < 3; ++i) {
        const std::string name = "p" + std::to_string(i);
        WriteFile(Path(name + ".bmp"), BmpFile(pictures[i]));
        work[i] = {Path16(name + ".bmp"),      Path16(name + ".tif"),        Path16(name + "-back.bmp"),
                   Path16("linked.tif"), Path16(name + "-padded.bmp"), {}};
    }
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, 128 * 1024), 0);
    pthread_t thread;
    auto run = [](void* argument) -> void* {
        for (Work& w : *static_cast<Work(*)[3]>(argument)) {
            w.results[0] = Bmp2Tiff(w.bmp.c_str(), w.tiff.c_str());   // new
            w.results[1] = Bmp2Tiff(w.bmp.c_str(), w.tiff.c_str());   // replaced
            w.results[2] = Tiff2Bmp(w.tiff.c_str(), w.back.c_str());
            w.results[3] = Bmp2Tiff(w.bmp.c_str(), w.linked.c_str()); // in place
            KestovaOptions options = {sizeof options, KESTOVA_FLAG_PADDED_ROWS, 0, 0, 0, 0, 0};
            w.results[4] = KestovaConvert(w.tiff.c_str(), w.padded.c_str(), &options);
        }
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, run, &work), 0);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    pthread_attr_destroy(&attributes);
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        for (const int32_t result : work[i].results) {
            EXPECT_EQ(result, KESTOVATIFF_OK);
        }
        const std::string name = "p" + std::to_string(i);
        EXPECT_EQ(ReadFile(Path(name + "-back.bmp")), BmpFile(pictures[i]));
        BmpForm padded;
        padded.padRows = true;
        EXPECT_EQ(ReadFile(Path(name + "-padded.bmp")), BmpFile(pictures[i], padded));
    }
    EXPECT_EQ(ReadFile(Path("other.tif")), ExpectedTiff(pictures[2]));

    // The other forms. BMP: run lengths (rows wider than the output block,
    // and to a pipe, which stages them), palette and 32-bit rows expanded in
    // place. TIFF: coded strips wider than a decoded piece, tiles turned
    // (rows and columns exchanged, through a scratch file), planes decoded
    // into a scratch file and exchanged through another, and to the pipe,
    // which stages them. Each to a new file and to the in-place one.
    PaletteBmp rle = MakePaletteBmp(30000, 3, 8);
    rle.compression = kBiRle8;
    const PaletteBmp bits1 = MakePaletteBmp(4465, 2, 1);
    const DirectBmp direct = MakeDirectBmp(25000, 2, 32, kBiRgb);
    WriteFile(Path("f0.bmp"), BmpFile(rle));
    WriteFile(Path("f1.bmp"), BmpFile(bits1));
    WriteFile(Path("f2.bmp"), BmpFile(direct));
    const Picture tiffPictures[] = {MakePicture(30000, 3, 1), MakePicture(300, 200, 2), MakePicture(700, 90, 3)};
    TiffForm tiffForms[3];
    tiffForms[0].compression = 8;
    tiffForms[0].predictor = true;
    tiffForms[0].rowsPerStrip = 2;
    tiffForms[1].compression = 5;
    tiffForms[1].tileSide = 48;
    tiffForms[1].changes = {{274, 3, {6}}};
    tiffForms[2].compression = 32773;
    tiffForms[2].planar = true;
    tiffForms[2].tileSide = 64;
    tiffForms[2].changes = {{274, 3, {8}}};
    for (size_t i = 0; i < 3; ++i) {
        WriteFile(Path("t" + std::to_string(i) + ".tif"), TiffFile(tiffPictures[i], tiffForms[i]));
    }
    const Bytes expected[] = {ExpectedTiff(Decoded(rle)),        ExpectedTiff(Decoded(bits1)),
                              ExpectedTiff(Decoded(direct)),     BmpFile(tiffPictures[0]),
                              BmpFile(Shown(tiffPictures[1], 6)), BmpFile(Shown(tiffPictures[2], 8))};
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    struct Job {
        int32_t (*convert)(const char16_t*, const char16_t*);
        std::u16string source, dest;
        int32_t result;
        int32_t expected = KESTOVATIFF_OK;
    };
    std::vector<Job> jobs;
    for (size_t i = 0; i < 6; ++i) {
        const std::string source = i < 3 ? "f" + std::to_string(i) + ".bmp" : "t" + std::to_string(i - 3) + ".tif";
        const auto convert = i < 3 ? Bmp2Tiff : Tiff2Bmp;
        jobs.push_back({convert, Path16(source), Path16("new" + std::to_string(i)), 0});
        jobs.push_back({convert, Path16(source), Path16("linked.tif"), 0});
    }
    // Group 4 fax codes, whose decoder keeps two rows in the output buffer.
    Picture faxShown;
    WriteFile(Path("fax.tif"), FaxTiff(3000, faxShown));
    jobs.push_back({Tiff2Bmp, Path16("fax.tif"), Path16("newfax"), 0});
    // YCbCr: rows of 4 x 4 blocks wider than the window, and planes
    // converted as they are interleaved.
    TiffForm wideYCbCr;
    wideYCbCr.compression = 8;
    wideYCbCr.rowsPerStrip = 8;
    TiffForm planarYCbCr;
    planarYCbCr.compression = 5;
    planarYCbCr.planar = true;
    planarYCbCr.tileSide = 32;
    planarYCbCr.changes = {{262, 3, {6}}, {530, 3, {1, 1}}};
    WriteFile(Path("y0.tif"), YCbCrTiffFile(MakePicture(5000, 9, 4), 4, 4, wideYCbCr));
    WriteFile(Path("y1.tif"), TiffFile(MakePicture(300, 200, 5), planarYCbCr));
    jobs.push_back({Tiff2Bmp, Path16("y0.tif"), Path16("ycbcr0"), 0});
    jobs.push_back({Tiff2Bmp, Path16("y1.tif"), Path16("ycbcr1"), 0});
    const std::u16string pipe = U16("/dev/fd/" + std::to_string(ends[1]));
    jobs.push_back({Bmp2Tiff, Path16("f0.bmp"), pipe, 0});
    jobs.push_back({Tiff2Bmp, Path16("t1.tif"), pipe, 0});
    jobs.push_back({Tiff2Bmp, Path16("t2.tif"), pipe, 0});
#if KESTOVATIFF_WITH_JPEG
    // JPEG (libjpeg's calls under the stack too): strips wider than a
    // decoded piece, tiles, and a stream damaged amid a strip (its error
    // path: a longjmp, then libjpeg's object destroyed).
    TiffForm jpegForm;
    jpegForm.compression = 7;
    jpegForm.jpeg.abbreviated = true;
    jpegForm.rowsPerStrip = 16;
    WriteFile(Path("j0.tif"), TiffFile(MakePicture(8000, 20, 4), jpegForm));
    jpegForm.tileSide = 64;
    WriteFile(Path("j1.tif"), TiffFile(MakePicture(300, 200, 5), jpegForm));
    Bytes damaged = ReadFile(Path("j0.tif"));
    damaged[damaged.size() / 4] ^= 0xFF;  // inside the second strip, stored first
    WriteFile(Path("j2.tif"), damaged);
    for (const char* name : {"j0.tif", "j1.tif", "j2.tif"}) {
        jobs.push_back({Tiff2Bmp, Path16(name), Path16("jpeg.bmp"), 0});
    }
    jobs.back().expected = KESTOVATIFF_ERROR_FORMAT;
#endif
    auto runJobs = [](void* argument) -> void* {
        for (Job& job : *static_cast<std::vector<Job>*>(argument)) {
            job.result = job.convert(job.source.c_str(), job.dest.c_str());
        }
        return nullptr;
    };
    Bytes piped;
    std::thread reader([&] {
        uint8_t block[4096];
        ssize_t got;
        while ((got = read(ends[0], block, sizeof block)) > 0) {
            piped.insert(piped.end(), block, block + got);
        }
    });
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, 128 * 1024), 0);
    ASSERT_EQ(pthread_create(&thread, &attributes, runJobs, &jobs), 0);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    pthread_attr_destroy(&attributes);
    close(ends[1]);
    reader.join();
    close(ends[0]);
    for (const Job& job : jobs) {
        EXPECT_EQ(job.result, job.expected);
    }
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(ReadFile(Path("new" + std::to_string(i))), expected[i]) << i;
    }
    EXPECT_EQ(ReadFile(Path("other.tif")), expected[5]);
    EXPECT_EQ(ReadFile(Path("newfax")), BmpFile(faxShown));
    Bytes pipedExpected = expected[0];
    pipedExpected.insert(pipedExpected.end(), expected[4].begin(), expected[4].end());
    pipedExpected.insert(pipedExpected.end(), expected[5].begin(), expected[5].end());
    EXPECT_EQ(piped, pipedExpected);
}

}  // namespace
}  // namespace testing_files
