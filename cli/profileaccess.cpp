#include "cli/profileaccess.h"

#include "writer/profile.h"

namespace morvandell {

bool loadProfile(const QString& path, DisplayConfiguration* configuration, QString* error)
{
    std::optional<DisplayConfiguration> loaded = Profile::load(path, error);
    if (!loaded)
        return false;
    *configuration = std::move(*loaded);
    return true;
}

bool saveProfile(const QString& path, const DisplayConfiguration& configuration, QString* error)
{
    return Profile::save(path, configuration, error);
}

} // namespace morvandell
