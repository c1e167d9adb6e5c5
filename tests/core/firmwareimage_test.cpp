// The image file as a transfer sends it: 130048 bytes, file bytes up to the length recorded at load time,
// 0xFF beyond it, and a failure (never padding) when the file has lost bytes since it was loaded.
#include "coresupport.h"

#include "platform/files.h"
#include "platform/text.h"
#include "updater/firmwareimage.h"
#include "updater/sha256.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

using namespace morvandell;
using namespace morvandell::test;

namespace {

Bytes randomBytes(int size)
{
    Bytes out(std::size_t(size), 0);
    std::mt19937 random{std::uint32_t(size)};
    for (Byte& b : out)
        b = Byte(random() & 0xFF);
    return out;
}

// Every block of the transfer, concatenated; empty with *error when a block fails.
Bytes sendAll(FirmwareImage& image, std::string* error)
{
    Bytes out;
    Byte block[128];
    for (int b = 1; b <= 1016; ++b) {
        if (!image.readBlock(b, block, error))
            return {};
        append(out, block, sizeof block);
    }
    return out;
}

struct CarriedRow
{
    std::string name;
    int size;
    int recorded;
};

std::vector<CarriedRow> carriedRows()
{
    std::vector<CarriedRow> rows;
    for (const int size : {0, 200, 1000, 130048, 130060, 130084, 130085})
        rows.push_back({"bytes" + std::to_string(size), size, size});
    rows.push_back({"grownAfterLoading200Bytes", 1000, 200});
    return rows;
}

class Carried : public testing::TestWithParam<CarriedRow>
{
};

TEST_P(Carried, aTransferCarriesFileBytesUpToTheRecordedLengthThenPadding)
{
    const CarriedRow& row = GetParam();
    const Bytes content = randomBytes(row.size);
    const std::string path = writeTempFile("img" + std::to_string(row.size) + ".bin", content);
    std::string error;
    EXPECT_EQ(FirmwareImage::measure(path, &error), std::optional<std::int64_t>(row.size));
    FirmwareImage image(path, row.recorded);
    ASSERT_TRUE(image.open(&error)) << error;
    const Bytes sent = sendAll(image, &error);
    const std::size_t fromFile = std::size_t(std::min(row.recorded, 130048));
    ASSERT_EQ(sent.size(), 130048u) << error;
    EXPECT_EQ(slice(sent, 0, fromFile), slice(content, 0, fromFile));
    EXPECT_EQ(slice(sent, fromFile), Bytes(130048 - fromFile, 0xFF));
}

INSTANTIATE_TEST_SUITE_P(Rows, Carried, testing::ValuesIn(carriedRows()),
                         [](const testing::TestParamInfo<CarriedRow>& info) { return info.param.name; });

struct LostRow
{
    const char* name;
    int loaded;
    int nowBytes; // -1: deleted
    bool duringTransfer;
    bool fails;
};

class LostBytes : public testing::TestWithParam<LostRow>
{
};

TEST_P(LostBytes, aFileThatLostBytesSinceLoadingFailsInsteadOfBeingPadded)
{
    const LostRow& row = GetParam();
    const Bytes content = randomBytes(row.loaded);
    const std::string path = writeTempFile(std::string(row.name) + ".bin", content);
    const auto change = [&] {
        std::error_code ec;
        if (row.nowBytes < 0)
            return std::filesystem::remove(files::toPath(path), ec);
        std::filesystem::resize_file(files::toPath(path), std::uintmax_t(row.nowBytes), ec);
        return !ec;
    };
    FirmwareImage image(path, row.loaded);
    std::string error;
    if (!row.duringTransfer) {
        ASSERT_TRUE(change());
    }
    Bytes sent;
    if (image.open(&error)) {
        if (row.duringTransfer) {
            ASSERT_TRUE(change());
        }
        sent = sendAll(image, &error);
    }
    EXPECT_EQ(sent.empty(), row.fails);
    EXPECT_EQ(error.find(files::fileName(path)) != std::string::npos, row.fails) << error;
    if (!row.fails) {
        EXPECT_EQ(slice(sent, 0, std::size_t(std::min(row.loaded, 130048))), slice(content, 0, 130048));
    }
}

std::vector<LostRow> lostRows()
{
    std::vector<LostRow> rows{
        {"deletedBeforeTheTransfer", 5000, -1, false, true},
        {"truncatedBeforeTheTransfer", 5000, 1000, false, true},
        {"truncatedDuringTheTransfer", 5000, 1000, true, true},
        {"shortenedStillHoldingEveryByteSent", 130060, 130050, false, false},
    };
#ifndef _WIN32 // Windows does not delete a file that is open
    rows.push_back({"deletedDuringTheTransferTheOpenFileStillReads", 5000, -1, true, false});
#endif
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Rows, LostBytes, testing::ValuesIn(lostRows()),
                         [](const testing::TestParamInfo<LostRow>& info) {
                             return std::string(info.param.name);
                         });

struct RefusedRow
{
    const char* name;
    const char* kind; // "missing" or "folder"
    const char* message;
};

class Refused : public testing::TestWithParam<RefusedRow>
{
};

TEST_P(Refused, measuringNamesTheFileAndCreatesNothing)
{
    const RefusedRow& row = GetParam();
    std::string path = files::join(tempFolder(), "nicht-da-äöü.bin");
    if (std::string(row.kind) == "folder") {
        path = files::join(tempFolder(), "ordner.bin");
        std::filesystem::create_directories(files::toPath(path));
    }
    std::string error;
    EXPECT_EQ(FirmwareImage::measure(path, &error), std::nullopt);
    EXPECT_EQ(error, text::arg(row.message, {files::fromPath(files::toPath(path).make_preferred())}));
    EXPECT_EQ(files::exists(path), std::string(row.kind) == "folder");
}

INSTANTIATE_TEST_SUITE_P(Rows, Refused,
                         testing::Values(RefusedRow{"missing", "missing", "Die Datei „%1“ existiert nicht."},
                                         RefusedRow{"folder", "folder", "„%1“ ist keine Datei."}),
                         [](const testing::TestParamInfo<RefusedRow>& info) {
                             return std::string(info.param.name);
                         });

TEST(FirmwareImage, theSummaryNamesFileSizeAndDigest)
{
    const Bytes content = randomBytes(50000);
    const std::string path = writeTempFile("zusammenfassung.bin", content);
    EXPECT_EQ(FirmwareImage::summary(path, 50000),
              "zusammenfassung.bin\n50000 Bytes\nSHA-256 " + Sha256::hexOf(content));
    EXPECT_EQ(FirmwareImage::summary(files::join(tempFolder(), "weg.bin"), 7),
              "weg.bin\n7 Bytes\nSHA-256 (nicht lesbar)");
}

} // namespace
