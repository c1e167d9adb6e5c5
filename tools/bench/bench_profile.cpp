// Times reading a profile of eight slots and one padded to the 1 MB limit, and saving a profile
// (temporary file, rename). Run a Release build by hand; nothing here is checked.

#include "platform/files.h"
#include "writer/profile.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include <unistd.h>

using namespace morvandell;

namespace {

// Milliseconds per run of work, over about a second.
double timePerRun(const std::function<bool()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    int runs = 0;
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(1)) {
        if (!work())
            return -1;
        ++runs;
    }
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / runs;
}

} // namespace

int main()
{
    DisplayConfiguration c;
    c.logDefinition = "/home/user/ecu/Version3_100.xml";
    for (int k = 1; k <= DisplayConfiguration::SlotCount; ++k)
        Profile::slot(c, k) = SlotSetting{"Channel" + std::to_string(k), std::uint8_t(k), 1,
                                          "Name" + std::to_string(k), "u"};
    const std::string smallText = Profile::toJson(c);
    std::string largeText = smallText;
    largeText.insert(1, "\"later\": \"" + std::string(Profile::MaxFileSize - smallText.size() - 16, 'x') + "\",");
    const Bytes small(smallText.begin(), smallText.end());
    const Bytes large(largeText.begin(), largeText.end());

    std::printf("read, eight slots (%zu bytes): %.3f ms\n", small.size(),
                timePerRun([&] { return Profile::parse(small).has_value(); }));
    std::printf("read, 1 MB (%zu bytes):        %.3f ms\n", large.size(),
                timePerRun([&] { return Profile::parse(large).has_value(); }));
    const std::string dir = files::join(files::tempFolder(), "morvandell-bench-profile-" + std::to_string(::getpid()));
    std::filesystem::create_directories(files::toPath(dir));
    const std::string path = files::join(dir, "bench.morvandell.json");
    std::printf("save, eight slots:               %.3f ms\n", timePerRun([&] { return Profile::save(path, c); }));
    std::filesystem::remove_all(files::toPath(dir));
    return 0;
}
