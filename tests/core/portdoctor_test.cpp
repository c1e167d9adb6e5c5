// Why a port does not open, told from fake system trees (groups, lock files, /proc, sysfs) and from a
// real second program that holds a pseudo-terminal.
#include "coresupport.h"

#include "platform/files.h"
#include "platform/text.h"
#include "serial/serialservice.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include "unix/portdoctor.h"

#include <csignal>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

using namespace morvandell;
using namespace morvandell::test;

namespace {

// Builds a tree below root from "path=content" (a file), "path->target" (a link) and "path/" (a folder).
void buildTree(const std::string& root, const std::vector<std::string>& items)
{
    namespace fs = std::filesystem;
    for (const std::string& item : items) {
        const std::size_t arrow = item.find("->");
        const bool isLink = arrow != std::string::npos;
        const std::size_t cut = isLink ? arrow : item.find('=');
        const std::string path = item.substr(0, cut);
        const std::string value = cut == std::string::npos ? std::string() : item.substr(cut + (isLink ? 2 : 1));
        const fs::path full = fs::path(root) / path;
        fs::create_directories(full.parent_path());
        if (!path.empty() && path.back() == '/')
            fs::create_directories(full);
        else if (isLink)
            fs::create_symlink(value, full);
        else
            std::ofstream(full, std::ios::binary) << value;
    }
}

struct TreeRow
{
    const char* name;
    const char* cause; // "permission", "busy", "gone"
    const char* device;
    std::vector<std::string> tree; // GID stands for this process's group
    std::vector<std::string> expected;
    std::vector<std::string> unexpected;
};

class SystemTree : public testing::TestWithParam<TreeRow>
{};

TEST_P(SystemTree, explainsTheFailure)
{
    const TreeRow& row = GetParam();
    // The fake device belongs to this process's group; the fake group database names that gid.
    const std::string gid = std::to_string(::getegid());
    const std::string root = tempFolder() + "/tree-" + row.name;
    std::vector<std::string> tree = row.tree;
    for (std::string& item : tree)
        item = text::replaceAll(item, "GID", gid);
    buildTree(root, tree);
    UnixPortDoctor doctor(root);
    UnixPortDoctor::Credentials alice;
    alice.user = "alice";
    alice.uid = 4711;
    alice.gid = 4711;
    alice.groups = {4711};
    doctor.setCredentials(alice);

    const PortDirectory directory({{1, row.device}}, [] { return std::vector<PortInfo>{}; });
    const std::string cause = row.cause;
    const std::string explained = cause == "permission" ? doctor.noPermission(row.device)
                                  : cause == "busy"     ? doctor.busy(row.device)
                                                        : doctor.notThere(directory, 1);
    for (const std::string& part : row.expected)
        EXPECT_NE(explained.find(part), std::string::npos) << part << " in:\n" << explained;
    for (const std::string& part : row.unexpected)
        EXPECT_EQ(explained.find(part), std::string::npos) << part << " in:\n" << explained;
    // The report covers the same tree without failing.
    EXPECT_NE(doctor.report(directory).find("Com #1"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SystemTree,
    testing::Values(
        TreeRow{"notInTheGroup", "permission", "/dev/ttyUSB0", {"dev/ttyUSB0=", "etc/group=dialout:x:GID:bob\n"},
                {"dialout", "sudo usermod -aG dialout alice", "70-morvandell.rules"}, {}},
        TreeRow{"inTheGroupButNotLoggedInAgain", "permission", "/dev/ttyUSB0",
                {"dev/ttyUSB0=", "etc/group=dialout:x:GID:bob,alice\n"}, {"dialout", "alice"}, {"usermod"}},
        TreeRow{"busyByALockFileOfARunningProcess", "busy", "/dev/ttyUSB0",
                {"dev/ttyUSB0=", "run/lock/LCK..ttyUSB0=4242\nminicom\n", "proc/4242/comm=minicom\n"},
                {"minicom", "4242"}, {"ModemManager"}},
        TreeRow{"staleLockFileIsNoHolder", "busy", "/dev/ttyUSB0", {"dev/ttyUSB0=", "run/lock/LCK..ttyUSB0=4242\n"},
                {}, {"4242"}},
        TreeRow{"busyByModemManager", "busy", "/dev/ttyACM0",
                {"dev/ttyACM0=", "proc/812/comm=ModemManager\n", "proc/812/fd/9->/dev/ttyACM0"},
                {"ModemManager", "812", "70-morvandell.rules"}, {}},
        TreeRow{"brlttyTookACh340", "gone", "/dev/ttyUSB0",
                {"usr/bin/brltty=", "sys/bus/usb/devices/1-1/idVendor=1a86\n",
                 "sys/bus/usb/devices/1-1/idProduct=7523\n", "sys/bus/usb/devices/1-1:1.0/"},
                {"brltty", "CH340"}, {}},
        TreeRow{"ch340WithItsTtyIsNoBrlttyCase", "gone", "/dev/ttyUSB0",
                {"usr/bin/brltty=", "sys/bus/usb/devices/1-1/idVendor=1a86\n",
                 "sys/bus/usb/devices/1-1/idProduct=7523\n", "sys/bus/usb/devices/1-1:1.0/ttyUSB0/"},
                {}, {"brltty"}}),
    [](const testing::TestParamInfo<TreeRow>& info) { return std::string(info.param.name); });

TEST(PortDoctor, namesTheSecondProgramHoldingThePort)
{
    PtyPair pty;
    ASSERT_TRUE(pty.isValid());
    // The second program: a copy of this one that opens the port (lock file and all) and holds it.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        ::close(ready[0]);
        auto loop = makeEventLoop();
        SerialService port(*loop, directoryOf({{1, pty.slavePath()}}));
        port.setCommPort(1);
        const char ok = port.open() ? 1 : 0;
        [[maybe_unused]] auto n = ::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char ok = 0;
    const bool holding = ::read(ready[0], &ok, 1) == 1 && ok == 1;
    ::close(ready[0]);

    auto loop = makeEventLoop();
    SerialService service(*loop, directoryOf({{2, pty.slavePath()}}));
    service.setCommPort(2);
    const bool opened = holding && service.open();
    const std::string explained = service.describeLastError();
    ::kill(holder, SIGTERM);
    ::waitpid(holder, nullptr, 0);

    ASSERT_TRUE(holding);
    EXPECT_FALSE(opened);
    EXPECT_NE(explained.find(std::to_string(holder)), std::string::npos) << explained;
    // The holder is named as the system names it (at most 15 characters of the program's name).
    const std::string program = files::fileName(files::canonicalPath("/proc/self/exe")).substr(0, 15);
    EXPECT_NE(explained.find(program), std::string::npos) << explained;
}

TEST(PortDoctor, aDeviceGoneSinceStartUpIsToldSo)
{
    // A mapped link that was there at start-up and is gone when the port opens.
    PtyPair pty;
    const std::string link = tempFolder() + "/gone-display";
    ASSERT_EQ(::symlink(pty.slavePath().c_str(), link.c_str()), 0);
    const auto directory = std::make_shared<const PortDirectory>(std::map<int, std::string>{{1, link}},
                                                                 [] { return std::vector<PortInfo>{}; });
    ::unlink(link.c_str());
    auto loop = makeEventLoop();
    SerialService service(*loop, directory);
    service.setCommPort(1);
    EXPECT_FALSE(service.open());
    const std::string explained = service.describeLastError();
    EXPECT_NE(explained.find("kein Gerät gefunden"), std::string::npos) << explained;
    EXPECT_NE(explained.find("beim Programmstart angeschlossen; seit "), std::string::npos) << explained;
}

} // namespace
#endif
