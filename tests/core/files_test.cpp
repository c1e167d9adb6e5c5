// Saving a file atomically: the target is either the old or the complete new content, on every
// platform, and a failed save says why and leaves everything as it was.
#include "coresupport.h"

#include "platform/files.h"

#include <gtest/gtest.h>

using namespace morvandell;

namespace {

struct SaveRow
{
    const char* name;
    bool targetExists;
};

class AtomicSave : public testing::TestWithParam<SaveRow>
{};

TEST_P(AtomicSave, leavesTheNewContentAndNothingElse)
{
    const std::string folder = files::join(test::tempFolder(), GetParam().name);
    ASSERT_TRUE(std::filesystem::create_directory(files::toPath(folder)));
    const std::string path = files::join(folder, "profil.morvandell.json");
    std::string error;
    if (GetParam().targetExists) {
        ASSERT_TRUE(files::writeAtomically(path, Bytes(5000, 'a'), &error)) << error;
    }
    const Bytes content{'{', '}', '\n'};
    ASSERT_TRUE(files::writeAtomically(path, content, &error)) << error;
    EXPECT_EQ(files::readAll(path, 1 << 20, &error), std::optional<Bytes>(content)) << error;
    // No temporary file left beside it.
    EXPECT_EQ(files::list(folder), std::vector<std::string>{"profil.morvandell.json"});
}

INSTANTIATE_TEST_SUITE_P(Rows, AtomicSave,
                         testing::Values(SaveRow{"new", false}, SaveRow{"replaced", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AtomicSave, intoAMissingFolderFailsWithTheFileNamedAndWritesNothing)
{
    const std::string folder = files::join(test::tempFolder(), "fehlt");
    const std::string path = files::join(folder, "profil.morvandell.json");
    std::string error;
    EXPECT_FALSE(files::writeAtomically(path, Bytes{'x'}, &error));
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_NE(error.find("existiert nicht"), std::string::npos) << error;
    EXPECT_FALSE(files::exists(folder));
}

TEST(AtomicSave, overAFolderFailsAndLeavesItAlone)
{
    const std::string path = files::join(test::tempFolder(), "ordner");
    ASSERT_TRUE(std::filesystem::create_directory(files::toPath(path)));
    std::string error;
    EXPECT_FALSE(files::writeAtomically(path, Bytes{'x'}, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(files::isDirectory(path));
    EXPECT_TRUE(files::list(path).empty());
    for (const std::string& name : files::list(test::tempFolder()))
        EXPECT_EQ(name.find(".ordner"), std::string::npos) << name << " left behind";
}

} // namespace
