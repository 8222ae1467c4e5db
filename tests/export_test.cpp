// The raw and text exports, checked against GNU basenc and a printf loop, and the progress and
// cancel protocol of loads and saves.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "binio/binio.h"
#include "tests/testutil.h"

namespace {

using testutil::Bytes;
using testutil::TempDir;

// Compares two possibly huge texts and names the first difference instead of printing them.
::testing::AssertionResult sametext(const std::string& actual, const std::string& expected) {
    if (actual == expected) {
        return ::testing::AssertionSuccess();
    }
    std::size_t i = 0;
    while (i < actual.size() && i < expected.size() && actual[i] == expected[i]) {
        ++i;
    }
    return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size()
                                         << ", first difference at " << i;
}

std::string decimalreference(const Bytes& data) {
    std::string text;
    text.reserve(data.size() * 3);
    char buffer[8];
    for (std::uint8_t b : data) {
        std::snprintf(buffer, sizeof buffer, "%03u", static_cast<unsigned>(b));
        text += buffer;
    }
    return text;
}

TEST(Export, WorkedExample) {
    TempDir dir;
    const Bytes doc = {65, 10, 255};
    binio::savetext(dir / "hex", doc, 16);
    binio::savetext(dir / "bin", doc, 2);
    binio::savetext(dir / "dec", doc, 10);
    binio::savebin(dir / "raw", doc);
    EXPECT_EQ(testutil::readfile(dir / "hex"), "410AFF");
    EXPECT_EQ(testutil::readfile(dir / "bin"), "010000010000101011111111");
    EXPECT_EQ(testutil::readfile(dir / "dec"), "065010255");
    EXPECT_EQ(testutil::readfile(dir / "raw"), "A\n\xff");
}

TEST(Export, UnknownRadixCreatesEmptyFile) {
    TempDir dir;
    const Bytes doc = {1, 2, 3, 200};
    for (int radix : {0, 1, 3, 8, 15, 17, 255}) {
        SCOPED_TRACE(radix);
        const std::string path = dir / ("text" + std::to_string(radix));
        binio::savetext(path, doc, static_cast<std::uint8_t>(radix));
        ASSERT_TRUE(testutil::exists(path));
        EXPECT_EQ(testutil::readfile(path), "");
    }
}

// Random documents of sizes around the 1 MiB blocks the exports work in.
class ExportSizes : public ::testing::TestWithParam<std::size_t> {};

TEST_P(ExportSizes, MatchBasencAndReference) {
    const std::size_t size = GetParam();
    const std::uint64_t seed = 0x5eed0000 + size;
    SCOPED_TRACE("seed " + std::to_string(seed) + ", size " + std::to_string(size));
    TempDir dir;
    const Bytes doc = testutil::randombytes(seed, size);
    const std::string input = dir / "input";
    testutil::writefile(input, doc);

    binio::savetext(dir / "hex", doc, 16);
    binio::savetext(dir / "bin", doc, 2);
#ifdef _WIN32
    // The texts are made by the same code on every system; what Windows adds is the writing,
    // which the decimal and raw rows below check.
    std::printf("no basenc under Windows: the hex and binary texts are compared on Linux\n");
#else
    EXPECT_TRUE(sametext(testutil::readfile(dir / "hex"), testutil::basenc("base16", input)));
    EXPECT_TRUE(sametext(testutil::readfile(dir / "bin"), testutil::basenc("base2msbf", input)));
#endif
    binio::savetext(dir / "dec", doc, 10);
    EXPECT_TRUE(sametext(testutil::readfile(dir / "dec"), decimalreference(doc)));

    binio::savebin(dir / "raw", doc);
    EXPECT_TRUE(testutil::readfile<Bytes>(dir / "raw") == doc);
    // Loaded back into a document of 5000 bytes, which a shorter file replaces whole, as a longer.
    Bytes loaded = testutil::randombytes(seed + 1, 5000);
    binio::loadfile(dir / "raw", loaded);
    EXPECT_TRUE(loaded == doc);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ExportSizes,
                         ::testing::Values(0, 1, 2, 1000, (1u << 20) - 1, 1u << 20, (1u << 20) + 1,
                                           3u * (1u << 20) + 17));

// The operations that report progress: a load, a raw save, or a text save in that radix.
constexpr int kLoad = 0;
constexpr int kRaw = 1;

std::string opname(int op) {
    return op == kLoad ? "load" : op == kRaw ? "savebin" : "radix" + std::to_string(op);
}

// A load reads `path` (which holds `doc`) into `target`; a save writes `doc` to `path`.
void run(int op, const std::string& path, const Bytes& doc, Bytes& target,
         const binio::Progress& progress, const binio::Stop& stop = {}) {
    if (op == kLoad) {
        binio::loadfile(path, target, progress, stop);
    } else if (op == kRaw) {
        binio::savebin(path, doc, progress, stop);
    } else {
        binio::savetext(path, doc, static_cast<std::uint8_t>(op), progress, stop);
    }
}

class ProgressTest : public ::testing::TestWithParam<int> {
protected:
    // For a load, the file holds the document and is read; for a save, it is the output.
    std::string prepare(const Bytes& doc) {
        if (GetParam() == kLoad) {
            testutil::writefile(dir_ / "input", doc);
            return dir_ / "input";
        }
        return dir_ / "output";
    }

    TempDir dir_;
};

TEST_P(ProgressTest, ReportsInOrderFromZeroToTotal) {
    for (std::size_t size : {std::size_t{0}, std::size_t{5}, std::size_t{5} << 19}) {
        SCOPED_TRACE("size " + std::to_string(size));
        const Bytes doc = testutil::randombytes(size, size);
        const std::string path = prepare(doc);
        std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
        Bytes target;
        run(GetParam(), path, doc, target,
            [&](std::uint64_t done, std::uint64_t total) { calls.emplace_back(done, total); });
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.front(), std::make_pair(std::uint64_t{0}, std::uint64_t{size}));
        EXPECT_EQ(calls.back(), std::make_pair(std::uint64_t{size}, std::uint64_t{size}));
        if (size > (std::size_t{2} << 20)) {
            EXPECT_GE(calls.size(), 3u) << "a large document reports on the way";
        }
        for (std::size_t i = 1; i < calls.size(); ++i) {
            EXPECT_LE(calls[i - 1].first, calls[i].first) << "call " << i;
            EXPECT_EQ(calls[i].second, size) << "call " << i;
        }
        std::filesystem::remove(path);
    }
}

TEST_P(ProgressTest, CancelChangesNothing) {
    const Bytes doc = testutil::randombytes(7, std::size_t{5} << 19);
    // Stop at the first report, at one on the way and at the last one.
    for (int when : {0, 1, 2}) {
        SCOPED_TRACE("cancel point " + std::to_string(when));
        const std::string path = prepare(doc);
        const Bytes before = {9, 8, 7};
        Bytes target = before;
        binio::Stop stop;
        bool refused = false;
        int callsafterrefusal = 0;
        EXPECT_THROW(run(
                         GetParam(), path, doc, target,
                         [&](std::uint64_t done, std::uint64_t total) {
                             if (refused) {
                                 ++callsafterrefusal;
                             }
                             switch (when) {
                                 case 0:
                                     refused = true;
                                     break;
                                 case 1:
                                     refused = done > 0 && done < total;
                                     break;
                                 default:
                                     refused = done == total;
                                     break;
                             }
                             if (refused) {
                                 stop.request();
                             }
                         },
                         stop),
                     binio::Cancelled);
        EXPECT_TRUE(refused);
        EXPECT_EQ(callsafterrefusal, 0);
        if (GetParam() == kLoad) {
            EXPECT_EQ(target, before);
            std::filesystem::remove(path);
        } else {
            EXPECT_FALSE(testutil::exists(path));
            EXPECT_TRUE(std::filesystem::is_empty(dir_.path())) << "the file being written is gone";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Ops, ProgressTest, ::testing::Values(kLoad, kRaw, 16, 2, 10),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return opname(info.param);
                         });

TEST(SaveProgress, ReportingDoesNotChangeOutput) {
    TempDir dir;
    const Bytes doc = testutil::randombytes(11, (std::size_t{5} << 19) + 3);
    Bytes unused;
    for (int op : {kRaw, 16, 2, 10}) {
        SCOPED_TRACE(opname(op));
        const std::string plain = dir / (opname(op) + "-plain");
        const std::string reported = dir / (opname(op) + "-reported");
        run(op, plain, doc, unused, nullptr);
        run(op, reported, doc, unused, [](std::uint64_t, std::uint64_t) {});
        EXPECT_TRUE(sametext(testutil::readfile(reported), testutil::readfile(plain)));
    }
}

}  // namespace
