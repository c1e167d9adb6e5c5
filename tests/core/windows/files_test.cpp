// Files, folders and the environment by UTF-8 name through the wide-character API.
#include "coresupport.h"

#include "platform/files.h"

#include <gtest/gtest.h>

#include <windows.h>

using namespace morvandell;

namespace {

class FileNames : public testing::TestWithParam<const char*>
{};

TEST_P(FileNames, workWithAnyCharacters)
{
    const std::string folder = files::join(test::tempFolder(), GetParam());
    ASSERT_TRUE(std::filesystem::create_directory(files::toPath(folder)));
    const std::string path = files::join(folder, std::string(GetParam()) + ".bin");
    std::string error;
    ASSERT_TRUE(files::writeAtomically(path, Bytes{1, 2, 3}, &error)) << error;
    EXPECT_EQ(files::readAll(path, 100, &error), std::optional<Bytes>(Bytes{1, 2, 3})) << error;
    EXPECT_EQ(files::list(folder), std::vector<std::string>{std::string(GetParam()) + ".bin"});
    EXPECT_EQ(files::fileName(path), std::string(GetParam()) + ".bin");
}

INSTANTIATE_TEST_SUITE_P(Rows, FileNames, testing::Values("Prüfstand", "Ölwerte €", "Łódź", "日本"),
                         [](const auto& info) { return "row" + std::to_string(info.index); });

TEST(Environment, tellsUnsetFromEmptyAndReadsUtf8)
{
    ::SetEnvironmentVariableW(L"MORVANDELL_TEST_VALUE", nullptr);
    EXPECT_EQ(files::environment("MORVANDELL_TEST_VALUE"), std::nullopt);
    ::SetEnvironmentVariableW(L"MORVANDELL_TEST_VALUE", L"");
    EXPECT_EQ(files::environment("MORVANDELL_TEST_VALUE"), std::optional<std::string>(""));
    ::SetEnvironmentVariableW(L"MORVANDELL_TEST_VALUE", L"3=COM23,\u00FC");
    EXPECT_EQ(files::environment("MORVANDELL_TEST_VALUE"), std::optional<std::string>("3=COM23,ü"));
    ::SetEnvironmentVariableW(L"MORVANDELL_TEST_VALUE", nullptr);
}

TEST(Folders, programFolderHoldsThisProgram)
{
    const std::string folder = files::programFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(files::isRegularFile(files::join(folder, "windows_files_test.exe"))) << folder;
    EXPECT_TRUE(files::isDirectory(files::homeFolder())) << files::homeFolder();
}

} // namespace
