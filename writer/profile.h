#pragma once

#include "writer/displayconfiguration.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace morvandell {

// A profile file: one display configuration as UTF-8 JSON (extension ".morvandell.json"), enough to
// write the display again without the log-definition file.
//
//   { "format": "morvandell-profile", "version": 1, "logDefinition": "...", "defaultView": 1,
//     "slots": [ { "slot": 1, "channel": "RPM", "number": 12, "divider": 1, "name": "Drehz", "unit": "rpm" }
//     ] }
//
// Reading is strict: the first problem refuses the whole profile with a message that names it.
// Unknown keys are ignored, so that later versions can add to the format.
class Profile
{
public:
    static constexpr int Version = 1;
    static constexpr qint64 MaxFileSize = 1024 * 1024;
    static constexpr int MaxDefaultView = 3;
    static constexpr int NameLength = 8;
    static constexpr int UnitLength = 3;

    static QString formatName() { return QStringLiteral("morvandell-profile"); }
    static QString fileSuffix() { return QStringLiteral(".morvandell.json"); }
    // Name filter for file dialogs.
    static QString fileFilter() { return QStringLiteral("Morvandell-Profile (*.morvandell.json)"); }

    // Display slot k (1..8) of a configuration.
    static std::optional<SlotSetting>& slot(DisplayConfiguration& configuration, int k);
    static const std::optional<SlotSetting>& slot(const DisplayConfiguration& configuration, int k);

    // The profile in bytes; nullopt with *error naming the first problem.
    static std::optional<DisplayConfiguration> parse(const QByteArray& bytes, QString* error = nullptr);
    // The configuration as profile text (UTF-8, keys in a fixed order, one line per slot).
    static QByteArray toJson(const DisplayConfiguration& configuration);
    // Why the configuration cannot be stored as a profile that reads back, or an empty text.
    static QString problem(const DisplayConfiguration& configuration);

    // Reads and parses a file. The error text names the file and the first problem.
    static std::optional<DisplayConfiguration> load(const QString& path, QString* error = nullptr);
    // Writes atomically: the file at path is either the complete new profile or what it was before.
    static bool save(const QString& path, const DisplayConfiguration& configuration,
                     QString* error = nullptr);
};

} // namespace morvandell
