// Property checks for the fuzz targets: a failed check prints what was expected and aborts, so
// libFuzzer records the input as a crash and the run fails.
#pragma once

#include "platform/bytes.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#ifdef QT_CORE_LIB // targets whose code under test still uses Qt's types
#include <QByteArray>
#include <QString>
#endif

namespace fuzzcheck {

[[noreturn]] inline void fail(const char* file, int line, const char* condition, const std::string& detail)
{
    std::fprintf(stderr, "\n*** property violated at %s:%d\n    %s\n", file, line, condition);
    if (!detail.empty())
        std::fprintf(stderr, "    %s\n", detail.c_str());
    std::fflush(stderr);
    std::abort();
}

// Bytes as C-style escaped text for messages: "U\x01\r\n".
inline std::string escaped(const morvandell::Bytes& bytes)
{
    static constexpr char Hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (const morvandell::Byte b : bytes) {
        if (b >= 0x20 && b < 0x7f && b != '\\' && b != '"') {
            out += char(b);
        } else {
            out += "\\x";
            out += Hex[b >> 4];
            out += Hex[b & 0x0F];
        }
    }
    return out + "\"";
}

// UTF-8 text as is, with control characters, quotes and backslashes escaped.
inline std::string escaped(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 0x20 && b != 0x7f && c != '\\' && c != '"') || b >= 0x80) {
            out += c;
        } else {
            static constexpr char Hex[] = "0123456789abcdef";
            out += "\\x";
            out += Hex[b >> 4];
            out += Hex[b & 0x0F];
        }
    }
    return out + "\"";
}

#ifdef QT_CORE_LIB
[[noreturn]] inline void fail(const char* file, int line, const char* condition, const QString& detail)
{
    fail(file, line, condition, detail.toStdString());
}

inline QString escaped(const QByteArray& bytes)
{
    return QString::fromStdString(escaped(morvandell::Bytes(bytes.begin(), bytes.end())));
}

inline QString escaped(const QString& text)
{
    QString out;
    for (const QChar c : text) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7f && c != QLatin1Char('\\') && c != QLatin1Char('"'))
            out += c;
        else
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    return QLatin1Char('"') + out + QLatin1Char('"');
}
#endif

} // namespace fuzzcheck

// CHECK(condition) or CHECK(condition, detail text): detail is only built when the check fails.
#define FUZZ_CHECK_1(cond)                                                                          \
    do {                                                                                            \
        if (!(cond))                                                                                \
            ::fuzzcheck::fail(__FILE__, __LINE__, #cond, std::string());                            \
    } while (0)
#define FUZZ_CHECK_2(cond, detail)                                                                  \
    do {                                                                                            \
        if (!(cond))                                                                                \
            ::fuzzcheck::fail(__FILE__, __LINE__, #cond, (detail));                                 \
    } while (0)
#define FUZZ_CHECK_PICK(_1, _2, name, ...) name
#define CHECK(...) FUZZ_CHECK_PICK(__VA_ARGS__, FUZZ_CHECK_2, FUZZ_CHECK_1, unused)(__VA_ARGS__)
