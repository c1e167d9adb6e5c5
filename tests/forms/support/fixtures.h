#pragma once

// What the window tests share: the log-definition files in tests/data, the frames the display must
// receive, and the display's messages. Bytes from hex and back: hex(), hexOf() of coresupport.h.

#include "tests/core/support/coresupport.h"

#include "platform/bytes.h"

#include <cstddef>
#include <string>
#include <vector>

namespace morvandell::test {

// --- log-definition files (tests/data) --------------------------------------------------------------------

// A file of tests/data by name, as a path the program opens.
std::string dataFile(const std::string& name);

// Ten channel lines, two of them without a name (a comment, the opening tag), so that a list position
// is not the catalogue index - 1; CRLF line ends; "ÄGT" and "°C" in Windows-1252; a divider of 2.5; a
// name of more than eight and a unit of more than three characters.
constexpr const char* EightChannels = "logdef_eight_channels.xml";
// The same with LF line ends.
constexpr const char* EightChannelsLf = "logdef_eight_channels_lf.xml";
// RPM and Oil_P, LF line ends, no enclosing tag.
constexpr const char* TwoChannels = "logdef_two_channels.xml";
// RPM, Oil_P, Batt, MAP in <channels>, CRLF line ends.
constexpr const char* FourChannels = "logdef_four_channels.xml";

// The slot lists' entries after reading EightChannels, in order (UTF-8).
const std::vector<std::string>& eightChannelNames();

// --- frames the display receives ----------------------------------------------------------------------

Bytes connectFrame();
Bytes resetFrame();
// The update window's command that switches the display into its update mode.
Bytes updateFrame();
// The settings record with the default-view byte.
Bytes settingsFrame(Byte defaultView);
// The nine write frames of "Daten schreiben" after EightChannels was read, slot k picked at list
// position 8 - k, slot 5's name box changed to "Akku", the default view left at 1.
const std::vector<Bytes>& reversedPicksFrames();

// --- firmware images ----------------------------------------------------------------------------------

// An image of `size` bytes (the same bytes for the same size).
Bytes firmwareImage(std::size_t size);
// What the display receives of an image: 1016 blocks of 128 bytes, the image filled up with 0xFF.
Bytes asTransferred(const Bytes& image);

// --- messages the display sends ---------------------------------------------------------------------------

Bytes identification(const std::string& firmware);
Bytes textMessage(const std::string& text);

// Bytes one after the other.
Bytes operator+(Bytes a, const Bytes& b);

} // namespace morvandell::test
