#pragma once

#include "writer/displayconfiguration.h"

#include <QString>

namespace morvandell {

// Profile files for configure --profile and --save-profile. False with *error (German, one line)
// when the file cannot be read or written.
bool loadProfile(const QString& path, DisplayConfiguration* configuration, QString* error);
bool saveProfile(const QString& path, const DisplayConfiguration& configuration, QString* error);

} // namespace morvandell
