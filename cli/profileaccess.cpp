#include "cli/profileaccess.h"

namespace morvandell {

bool loadProfile(const QString& path, DisplayConfiguration* configuration, QString* error)
{
    Q_UNUSED(configuration);
    *error = QStringLiteral("Profile werden noch nicht unterstützt (%1).").arg(path);
    return false;
}

bool saveProfile(const QString& path, const DisplayConfiguration& configuration, QString* error)
{
    Q_UNUSED(configuration);
    *error = QStringLiteral("Profile werden noch nicht unterstützt (%1 wurde nicht geschrieben).").arg(path);
    return false;
}

} // namespace morvandell
