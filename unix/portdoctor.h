#pragma once

#include "serial/portdoctor.h"

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace morvandell {

// The doctor on Linux. Reads the file system only (sysfs, /proc, /etc/group, /etc/passwd, the lock
// folders, the udev rule folders), all below a root folder that tests replace with a fake tree; it needs
// no root rights and changes nothing.
class UnixPortDoctor final : public PortDoctor
{
public:
    // Who asks: the user and the groups this process runs with.
    struct Credentials
    {
        std::string user;
        unsigned uid = 0;
        unsigned gid = 0;
        std::vector<unsigned> groups; // supplementary groups and the effective group
        long long pid = 0;
    };

    // A process that has the device open or holds its lock file.
    struct Holder
    {
        long long pid = 0;
        std::string name;
        bool fromLockFile = false;
    };

    static constexpr const char* RuleName = "70-morvandell.rules";

    explicit UnixPortDoctor(std::string root = "/");
    void setCredentials(const Credentials& credentials) { m_credentials = credentials; }
    static Credentials currentProcess();

    std::string noPermission(const std::string& device) const override;
    std::string busy(const std::string& device) const override;
    std::string notThere(const PortDirectory& directory, int number) const override;
    std::string report(const PortDirectory& directory, int number = 0) const override;

    // The facts the explanations are made of.
    std::vector<Holder> holders(const std::string& device) const;
    std::string groupOf(const std::string& device) const; // owning group's name, empty when unknown
    bool mayOpen(const std::string& device) const;        // read and write allowed by the device's mode
    std::string installedRule() const;                    // path of the installed udev rule, or empty
    std::optional<long long> modemManagerPid() const;
    bool brlttyInstalled() const;
    std::vector<std::string> adaptersWithoutTty() const; // adapters brltty claims, on USB without a tty

private:
    std::string at(const std::string& path) const;
    std::string resolved(const std::string& device) const;
    std::string groupName(unsigned gid) const;
    std::vector<std::string> groupMembers(const std::string& group) const;
    bool userInGroupDatabase(const std::string& group, unsigned gid) const;
    std::string processName(long long pid) const;
    std::vector<long long> processes() const;
    std::string holderText(const std::vector<Holder>& holders) const;

    std::string m_root;
    Credentials m_credentials = currentProcess();
};

} // namespace morvandell
