#pragma once

#include "serial/portdirectory.h"

#include <QList>
#include <QString>

namespace morvandell {

// The plain-text findings of doctor for the given port numbers of the directory: device path, whether it
// exists, is readable and writable, its owner group and whether this process is in it, and who holds
// Qt's lock file. Text for a support request, German like the windows.
QString portReport(const PortDirectory& ports, const QList<int>& numbers);

} // namespace morvandell
