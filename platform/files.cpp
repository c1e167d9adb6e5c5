#include "platform/files.h"

#include "platform/text.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <system_error>

namespace fs = std::filesystem;

namespace morvandell::files {

fs::path toPath(const std::string& utf8)
{
    return fs::u8path(utf8);
}

std::string fromPath(const fs::path& path)
{
    const auto u8 = path.u8string();
    return std::string(u8.begin(), u8.end());
}

bool exists(const std::string& path)
{
    std::error_code ec;
    return !path.empty() && fs::exists(toPath(path), ec);
}

bool isRegularFile(const std::string& path)
{
    std::error_code ec;
    return !path.empty() && fs::is_regular_file(toPath(path), ec);
}

bool isDirectory(const std::string& path)
{
    std::error_code ec;
    return !path.empty() && fs::is_directory(toPath(path), ec);
}

std::string canonicalPath(const std::string& path)
{
    if (path.empty())
        return {};
    std::error_code ec;
    const fs::path p = fs::canonical(toPath(path), ec);
    return ec ? std::string() : fromPath(p);
}

std::string absolutePath(const std::string& path)
{
    std::error_code ec;
    const fs::path p = fs::absolute(toPath(path), ec);
    return ec ? path : fromPath(p.lexically_normal());
}

std::string linkTarget(const std::string& path)
{
    std::error_code ec;
    const fs::path p = toPath(path);
    if (!fs::is_symlink(fs::symlink_status(p, ec)))
        return {};
    const fs::path target = fs::read_symlink(p, ec);
    return ec ? std::string() : fromPath(target);
}

std::string fileName(const std::string& path)
{
    return fromPath(toPath(path).filename());
}

std::string parentPath(const std::string& path)
{
    return fromPath(toPath(path).parent_path());
}

std::string join(const std::string& folder, const std::string& name)
{
    return fromPath(toPath(folder) / toPath(name));
}

std::vector<std::string> list(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(toPath(folder), ec);
    if (ec)
        return names;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        names.push_back(fromPath(it->path().filename()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::uintmax_t> size(const std::string& path)
{
    std::error_code ec;
    const auto n = fs::file_size(toPath(path), ec);
    if (ec)
        return std::nullopt;
    return n;
}

std::optional<Bytes> readAll(const std::string& path, std::uintmax_t maxBytes, std::string* error)
{
    auto refuse = [&](const std::string& why) -> std::optional<Bytes> {
        if (error)
            *error = text::arg("„%1“ kann nicht gelesen werden: %2", {path, why});
        return std::nullopt;
    };
    std::error_code ec;
    const fs::path p = toPath(path);
    const auto status = fs::status(p, ec);
    if (ec || !fs::exists(status))
        return refuse("die Datei existiert nicht.");
    if (!fs::is_regular_file(status))
        return refuse("das ist keine gewöhnliche Datei.");
    const auto length = fs::file_size(p, ec);
    if (ec)
        return refuse("die Größe ist nicht lesbar.");
    if (length > maxBytes)
        return refuse(text::arg("die Datei ist zu groß (%1 Bytes, höchstens %2).",
                                {std::to_string(length), std::to_string(maxBytes)}));
    std::ifstream in(p, std::ios::binary);
    if (!in)
        return refuse("keine Leseberechtigung oder gesperrt.");
    Bytes content(static_cast<std::size_t>(length));
    if (length > 0 && !in.read(reinterpret_cast<char*>(content.data()), std::streamsize(length)))
        return refuse("Lesefehler.");
    // A file that grew since its size was taken is not cut silently.
    if (in.peek() != std::char_traits<char>::eof())
        return refuse("die Datei hat sich beim Lesen verändert.");
    return content;
}

bool writeAtomically(const std::string& path, const Bytes& content, std::string* error)
{
    const fs::path target = toPath(path);
    fs::path folder = target.parent_path();
    if (folder.empty())
        folder = fs::current_path();
    std::random_device random;
    const fs::path temp =
        folder / toPath("." + fromPath(target.filename()) + "." + std::to_string(random() % 1000000) + ".tmp");
    auto failed = [&](const std::string& why) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        if (error)
            *error = text::arg("„%1“ kann nicht geschrieben werden: %2", {path, why});
        return false;
    };
    // On the disk before it takes the target's name: a crash or power loss leaves the old file or the
    // new one, never an empty or partial one.
    std::string why;
    if (!writeToDisk(fromPath(temp), content, &why) || !replaceFile(fromPath(temp), path, &why))
        return failed(why);
    return true;
}

std::string firstLine(const std::string& path, std::size_t maxBytes)
{
    std::ifstream in(toPath(path), std::ios::binary);
    if (!in)
        return {};
    std::string line;
    char c = 0;
    while (line.size() < maxBytes && in.get(c) && c != '\n')
        line += c;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return text::trimmed(line);
}

std::string tempFolder()
{
    std::error_code ec;
    const fs::path p = fs::temp_directory_path(ec);
    return ec ? std::string() : fromPath(p);
}

std::string languageOfLocale(const std::string& name)
{
    std::string language;
    for (const char c : name) {
        if (c == '_' || c == '-' || c == '.' || c == '@')
            break;
        language += c;
    }
    language = text::asciiLower(language);
    if (language == "c" || language == "posix")
        return {};
    return language;
}

} // namespace morvandell::files
