// Times reading a profile of eight slots and one padded to the 1 MB limit, and saving a profile
// (temporary file, sync to disk, rename). Run a Release build by hand; nothing here is checked.

#include "writer/profile.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

using namespace morvandell;

namespace {

// Milliseconds per run of work, over about a second.
double timePerRun(const std::function<bool()>& work)
{
    QElapsedTimer clock;
    clock.start();
    int runs = 0;
    while (clock.elapsed() < 1000) {
        if (!work())
            return -1;
        ++runs;
    }
    return double(clock.nsecsElapsed()) / 1e6 / runs;
}

} // namespace

int main()
{
    DisplayConfiguration c;
    c.logDefinition = QStringLiteral("/home/user/ecu/Version3_100.xml");
    for (int k = 1; k <= DisplayConfiguration::SlotCount; ++k)
        Profile::slot(c, k) = SlotSetting{QStringLiteral("Channel%1").arg(k), std::uint8_t(k), 1,
                                          QStringLiteral("Name%1").arg(k), QStringLiteral("u")};
    const QByteArray small = Profile::toJson(c);
    QByteArray large = small;
    large.insert(1, "\"later\": \"" + QByteArray(Profile::MaxFileSize - small.size() - 16, 'x') + "\",");

    std::printf("read, eight slots (%lld bytes): %.3f ms\n", (long long)small.size(),
                timePerRun([&] { return Profile::parse(small).has_value(); }));
    std::printf("read, 1 MB (%lld bytes):        %.3f ms\n", (long long)large.size(),
                timePerRun([&] { return Profile::parse(large).has_value(); }));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.morvandell.json"));
    std::printf("save, eight slots:               %.3f ms\n",
                timePerRun([&] { return Profile::save(path, c); }));
    return 0;
}
