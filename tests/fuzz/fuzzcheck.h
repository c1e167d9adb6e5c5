// Property checks for the fuzz targets: a failed check prints what was expected and aborts, so
// libFuzzer records the input as a crash and the run fails.
#pragma once

#include "platform/bytes.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace fuzzcheck {

[[noreturn]] inline void fail(const char* file, int line, const char* condition, const std::string& detail)
{
    std::fprintf(stderr, "\n*** property violated at %s:%d\n    %s\n", file, line, condition);
    if (!detail.empty())
        std::fprintf(stderr, "    %s\n", detail.c_str());
    std::fflush(stderr);
    std::abort();
}

// Bytes (or the bytes of a UTF-8 text) as C-style escaped text for messages: "U\x01\r\n" becomes
// "U\x01\x0d\x0a"; printable ASCII stays.
inline std::string escaped(std::string_view bytes)
{
    static const char* const hex = "0123456789abcdef";
    std::string out = "\"";
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7f && b != '\\' && b != '"') {
            out += char(b);
        } else {
            out += "\\x";
            out += hex[b >> 4];
            out += hex[b & 0xF];
        }
    }
    return out + "\"";
}

inline std::string escaped(const morvandell::Bytes& bytes)
{
    return escaped(morvandell::charsOf(bytes));
}

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
