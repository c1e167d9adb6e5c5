#pragma once

#include "platform/bytes.h"
#include "writer/displayconfiguration.h"

#include <cstddef>
#include <optional>
#include <string>

namespace morvandell {

// A profile file: one display configuration as UTF-8 JSON (extension ".morvandell.json"), enough to
// write the display again without the log-definition file.
//
//   { "format": "morvandell-profile", "version": 1, "logDefinition": "...", "defaultView": 1,
//     "slots": [ { "slot": 1, "channel": "RPM", "number": 12, "divider": 1, "name": "Drehz", "unit": "rpm" }
//     ] }
//
// A slot is in the profile when it is sent otherwise than a never-picked slot; "channel" is "" when no
// entry was picked for it. Reading is strict: the first problem refuses the whole profile with a
// message that names it.
// Unknown keys are ignored, so that later versions can add to the format. Lengths count characters
// as the windows' text boxes do, in UTF-16 units.
class Profile
{
public:
    static constexpr int Version = 1;
    static constexpr std::size_t MaxFileSize = 1024 * 1024;
    static constexpr int MaxDefaultView = 3;
    static constexpr std::size_t NameLength = 8;
    static constexpr std::size_t UnitLength = 3;

    static std::string formatName() { return "morvandell-profile"; }
    static std::string fileSuffix() { return ".morvandell.json"; }
    // Name filter for file dialogs.
    static std::string fileFilter() { return "Morvandell-Profile (*.morvandell.json)"; }

    // Display slot k (1..8) of a configuration.
    static std::optional<SlotSetting>& slot(DisplayConfiguration& configuration, int k);
    static const std::optional<SlotSetting>& slot(const DisplayConfiguration& configuration, int k);

    // The profile in bytes; nullopt with *error naming the first problem.
    static std::optional<DisplayConfiguration> parse(const Bytes& bytes, std::string* error = nullptr);
    // The configuration as profile text (UTF-8, keys in a fixed order, one line per slot).
    static std::string toJson(const DisplayConfiguration& configuration);
    // Why the configuration cannot be stored as a profile that reads back, or an empty text.
    static std::string problem(const DisplayConfiguration& configuration);

    // Reads and parses a file (UTF-8 path). The error text names the file and the first problem.
    static std::optional<DisplayConfiguration> load(const std::string& path, std::string* error = nullptr);
    // Writes atomically: the file at path is either the complete new profile or what it was before.
    static bool save(const std::string& path, const DisplayConfiguration& configuration,
                     std::string* error = nullptr);
};

} // namespace morvandell
