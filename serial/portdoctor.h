#pragma once

#include "serial/portdirectory.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace morvandell {

// Finds out why a serial port cannot be opened and what the user can do about it. Reads the file
// system only (sysfs, /proc, /etc/group, /etc/passwd, the lock folders), all below a root folder that
// tests replace with a fake tree; it needs no root rights and changes nothing.
class PortDoctor
{
public:
    // Who asks: the user and the groups this process runs with.
    struct Credentials
    {
        QString user;
        uint uid = 0;
        uint gid = 0;
        QList<uint> groups; // supplementary groups and the effective group
        qint64 pid = 0;
    };

    // A process that has the device open or holds its lock file.
    struct Holder
    {
        qint64 pid = 0;
        QString name;
        bool fromLockFile = false;
    };

    static constexpr auto RuleName = "70-morvandell.rules";

    explicit PortDoctor(QString root = QStringLiteral("/"));
    void setCredentials(const Credentials& credentials) { m_credentials = credentials; }
    static Credentials currentProcess();

    // German explanations, cause and remedy, several lines each.
    QString noPermission(const QString& device) const;
    QString busy(const QString& device) const;
    QString notThere(const PortDirectory& directory, int number) const;

    // Plain-text report on one port, or on every port the directory knows when number is 0.
    QString report(const PortDirectory& directory, int number = 0) const;

    // The facts the explanations are made of.
    QList<Holder> holders(const QString& device) const;
    QString groupOf(const QString& device) const; // owning group's name, empty when unknown
    bool mayOpen(const QString& device) const;    // read and write allowed by the device's mode
    QString installedRule() const;                // path of the installed udev rule, or empty
    std::optional<qint64> modemManagerPid() const;
    bool brlttyInstalled() const;
    QStringList adaptersWithoutTty() const; // adapters brltty claims, present on USB without a tty

private:
    QString at(const QString& path) const;
    QString resolved(const QString& device) const;
    QString groupName(uint gid) const;
    QStringList groupMembers(const QString& group) const;
    bool userInGroupDatabase(const QString& group, uint gid) const;
    QString processName(qint64 pid) const;
    QString holderText(const QList<Holder>& holders) const;

    QString m_root;
    Credentials m_credentials = currentProcess();
};

} // namespace morvandell
