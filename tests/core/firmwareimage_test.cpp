// The image file as a transfer sends it: 130048 bytes, the bytes read when it was loaded, 0xFF beyond
// them; a file that changed since loading is refused before anything is sent, and one that changes
// while the blocks go out changes nothing sent.
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

// Every block of the transfer, concatenated.
Bytes sendAll(const FirmwareImage& image)
{
    Bytes out;
    for (int b = 1; b <= 1016; ++b)
        append(out, image.block(b));
    return out;
}

struct CarriedRow
{
    std::string name;
    int size;
};

std::vector<CarriedRow> carriedRows()
{
    std::vector<CarriedRow> rows;
    for (const int size : {0, 200, 1000, 130048, 130060, 130084, 130085, 1000000})
        rows.push_back({"bytes" + std::to_string(size), size});
    return rows;
}

class Carried : public testing::TestWithParam<CarriedRow>
{
};

TEST_P(Carried, aTransferCarriesTheLoadedBytesThenPaddingAndTheDigestIsTheWholeFiles)
{
    const CarriedRow& row = GetParam();
    const Bytes content = randomBytes(row.size);
    const std::string path = writeTempFile("img" + std::to_string(row.size) + ".bin", content);
    std::string error;
    const std::optional<FirmwareImage> image = FirmwareImage::load(path, &error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(image->length(), row.size);
    EXPECT_EQ(image->sha256(), Sha256::hexOf(content));
    EXPECT_TRUE(image->unchanged(&error)) << error;
    const Bytes sent = sendAll(*image);
    const std::size_t fromFile = std::size_t(std::min(row.size, 130048));
    EXPECT_EQ(image->bytesFromFile(), std::int64_t(fromFile)); // no more is held, however large the file
    ASSERT_EQ(sent.size(), 130048u);
    EXPECT_EQ(slice(sent, 0, fromFile), slice(content, 0, fromFile));
    EXPECT_EQ(slice(sent, fromFile), Bytes(130048 - fromFile, 0xFF));
}

INSTANTIATE_TEST_SUITE_P(Rows, Carried, testing::ValuesIn(carriedRows()),
                         [](const testing::TestParamInfo<CarriedRow>& info) { return info.param.name; });

struct ChangedRow
{
    const char* name;
    int loaded;
    int nowBytes;        // -1: deleted
    bool rewritten;      // other bytes (at the length nowBytes)
    bool duringTransfer; // changed after the check, while the blocks go out
    const char* refusal; // part of the message; empty: not refused
};

class ChangedFile : public testing::TestWithParam<ChangedRow>
{
};

TEST_P(ChangedFile, isRefusedBeforeAnythingIsSentAndNeverMixedIn)
{
    const ChangedRow& row = GetParam();
    const Bytes content = randomBytes(row.loaded);
    const std::string path = writeTempFile(std::string(row.name) + ".bin", content);
    const auto change = [&] {
        std::error_code ec;
        if (row.nowBytes < 0)
            return std::filesystem::remove(files::toPath(path), ec);
        Bytes now = slice(content, 0, std::size_t(row.nowBytes));
        now.resize(std::size_t(row.nowBytes), 0x11);
        if (row.rewritten)
            for (Byte& b : now)
                b ^= 0x5A;
        writeTempFile(std::string(row.name) + ".bin", now);
        return true;
    };
    std::string error;
    const std::optional<FirmwareImage> image = FirmwareImage::load(path, &error);
    ASSERT_TRUE(image) << error;
    if (!row.duringTransfer) {
        ASSERT_TRUE(change());
    }
    const bool unchanged = image->unchanged(&error);
    EXPECT_EQ(unchanged, !*row.refusal) << error;
    if (!unchanged) {
        EXPECT_NE(error.find(files::fileName(path)), std::string::npos) << error;
        EXPECT_NE(error.find(row.refusal), std::string::npos) << error;
        EXPECT_NE(error.find("Es wurde nichts gesendet; bitte die Datei neu laden."), std::string::npos) << error;
        return;
    }
    ASSERT_TRUE(change());
    const std::size_t fromFile = std::size_t(std::min(row.loaded, 130048));
    Bytes expected = slice(content, 0, fromFile);
    expected.resize(130048, 0xFF);
    EXPECT_EQ(sendAll(*image), expected);
}

std::vector<ChangedRow> changedRows()
{
    return {
        {"deletedBeforeTheTransfer", 5000, -1, false, false, "existiert seit dem Laden nicht mehr"},
        {"truncatedBeforeTheTransfer", 5000, 1000, false, false, "(jetzt 1000 statt 5000 Bytes)"},
        {"shortenedStillHoldingEveryByteSent", 130060, 130050, false, false, "(jetzt 130050 statt 130060 Bytes)"},
        {"grownAfterLoading200Bytes", 200, 1000, false, false, "(jetzt 1000 statt 200 Bytes)"},
        {"rewrittenWithTheSameLength", 5000, 5000, true, false, "gleiche Größe, anderer Inhalt"},
        {"truncatedDuringTheTransfer", 5000, 1000, false, true, ""},
        {"rewrittenDuringTheTransfer", 5000, 5000, true, true, ""},
        {"deletedDuringTheTransfer", 5000, -1, false, true, ""},
    };
}

INSTANTIATE_TEST_SUITE_P(Rows, ChangedFile, testing::ValuesIn(changedRows()),
                         [](const testing::TestParamInfo<ChangedRow>& info) {
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

TEST_P(Refused, loadingNamesTheFileAndCreatesNothing)
{
    const RefusedRow& row = GetParam();
    std::string path = files::join(tempFolder(), "nicht-da-äöü.bin");
    if (std::string(row.kind) == "folder") {
        path = files::join(tempFolder(), "ordner.bin");
        std::filesystem::create_directories(files::toPath(path));
    }
    std::string error;
    EXPECT_FALSE(FirmwareImage::load(path, &error));
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
    std::string error;
    const std::optional<FirmwareImage> image = FirmwareImage::load(path, &error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(image->summary(), "zusammenfassung.bin\n50000 Bytes\nSHA-256 " + Sha256::hexOf(content));
}

} // namespace
