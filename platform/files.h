#pragma once

// Files and folders by UTF-8 name, on every platform (Windows: wide-character APIs underneath, so that
// names with any characters work).

#include "platform/bytes.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace morvandell::files {

// UTF-8 text <-> the platform's path type.
std::filesystem::path toPath(const std::string& utf8);
std::string fromPath(const std::filesystem::path& path);

bool exists(const std::string& path);       // anything: file, folder, device (links followed)
bool isRegularFile(const std::string& path); // links followed
bool isDirectory(const std::string& path);
// The path with every link and "." / ".." resolved; empty when it does not exist.
std::string canonicalPath(const std::string& path);
// Absolute, without resolving links.
std::string absolutePath(const std::string& path);
// Where a symbolic link points, as written in the link; empty when it is no link.
std::string linkTarget(const std::string& path);
std::string fileName(const std::string& path);   // the last component
std::string parentPath(const std::string& path); // everything before it
std::string join(const std::string& folder, const std::string& name);
// The names in a folder (not "." and ".."), sorted; empty when it cannot be read.
std::vector<std::string> list(const std::string& folder);
std::optional<std::uintmax_t> size(const std::string& path);

// The whole file, refused (nothing, with *error in German naming the file) when it does not exist, is
// not a regular file, cannot be read, or is larger than maxBytes.
std::optional<Bytes> readAll(const std::string& path, std::uintmax_t maxBytes, std::string* error);
// Writes atomically: the file at path is either the complete new content or what it was before.
bool writeAtomically(const std::string& path, const Bytes& content, std::string* error);
// The operating system's part of writeAtomically: a new file with this content, on the disk (not only in
// the cache) when it returns true; and the move of a finished file over the target, itself made lasting.
// *why says what failed, in German.
bool writeToDisk(const std::string& path, const Bytes& content, std::string* why);
bool replaceFile(const std::string& from, const std::string& to, std::string* why);
// The first line of a small text file (sysfs, /proc), without its line end; empty when unreadable.
std::string firstLine(const std::string& path, std::size_t maxBytes = 4096);

// The user's home folder, the program's own folder, a folder for temporary files.
std::string homeFolder();
std::string programFolder();
std::string tempFolder();

// An environment variable as UTF-8; nothing when it is not set.
std::optional<std::string> environment(const std::string& name);

// The language of the user's interface as a lower-case ISO 639 code ("de", "en"); empty when the system
// names none. Linux: the messages' locale (LC_ALL, else LC_MESSAGES, else LANG); Windows: the user's UI
// language.
std::string userLanguage();
// The language of a locale name: "de_DE.UTF-8", "de-AT" and "de@euro" give "de"; "C" and "POSIX" give "".
std::string languageOfLocale(const std::string& name);

} // namespace morvandell::files
