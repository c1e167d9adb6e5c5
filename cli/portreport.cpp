#include "cli/portreport.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace morvandell {

namespace {

QString yesNo(bool value)
{
    return value ? QStringLiteral("ja") : QStringLiteral("nein");
}

#ifdef Q_OS_UNIX
bool processInGroup(gid_t gid)
{
    if (::getegid() == gid)
        return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0)
        return false;
    QList<gid_t> groups(count);
    const int got = ::getgroups(count, groups.data());
    for (int i = 0; i < got; ++i)
        if (groups.at(i) == gid)
            return true;
    return false;
}

// Qt's lock file for /dev/ttyUSB0 is /run/lock/LCK..ttyUSB0 (or /var/lock); its first line is the pid.
QString lockHolder(const QString& device)
{
    const QString name = QStringLiteral("LCK..") + QFileInfo(device).fileName();
    for (const char* folder : {"/run/lock/", "/var/lock/"}) {
        QFile lock(QString::fromLatin1(folder) + name);
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        const QByteArray pid = lock.readLine().trimmed();
        QFile comm(QStringLiteral("/proc/%1/comm").arg(QString::fromLatin1(pid)));
        QString program;
        if (comm.open(QIODevice::ReadOnly))
            program = QString::fromLocal8Bit(comm.readAll().trimmed());
        return QStringLiteral("%1, gehalten von Prozess %2 (%3)")
            .arg(lock.fileName(), QString::fromLatin1(pid),
                 program.isEmpty() ? QStringLiteral("läuft nicht mehr") : program);
    }
    return QStringLiteral("keine");
}
#endif

void reportOne(QTextStream& out, int number, const PortDirectory::Entry& entry)
{
    out << "Com #" << number << ": "
        << (entry.device.isEmpty() ? QStringLiteral("kein Gerät zugeordnet") : entry.device);
    if (!entry.description.isEmpty())
        out << " (" << entry.description << ")";
    out << "\n";
    if (entry.device.isEmpty())
        return;
#ifdef Q_OS_UNIX
    const QByteArray path = QFile::encodeName(entry.device);
    struct stat st
    {
    };
    const bool exists = ::stat(path.constData(), &st) == 0;
    out << "  vorhanden: " << yesNo(exists);
    if (!exists) {
        out << "\n";
        return;
    }
    out << ", lesbar: " << yesNo(::access(path.constData(), R_OK) == 0)
        << ", schreibbar: " << yesNo(::access(path.constData(), W_OK) == 0) << "\n";
    const passwd* owner = ::getpwuid(st.st_uid);
    const group* g = ::getgrgid(st.st_gid);
    const QString groupName = g ? QString::fromLocal8Bit(g->gr_name) : QString::number(st.st_gid);
    out << "  Besitzer: " << (owner ? QString::fromLocal8Bit(owner->pw_name) : QString::number(st.st_uid))
        << ", Gruppe: " << groupName
        << ", dieser Prozess ist in der Gruppe: " << yesNo(processInGroup(st.st_gid)) << "\n";
    out << "  Sperrdatei: " << lockHolder(entry.device) << "\n";
#else
    out << "  vorhanden: " << yesNo(QFileInfo::exists(entry.device)) << "\n";
#endif
}

} // namespace

QString portReport(const PortDirectory& ports, const QList<int>& numbers)
{
    QString text;
    QTextStream out(&text);
    if (numbers.isEmpty())
        out << "Keine Ports gefunden.\n";
    for (const int number : numbers)
        reportOne(out, number, ports.entry(number));
    return text;
}

} // namespace morvandell
