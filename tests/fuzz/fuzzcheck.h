// Property checks for the fuzz targets: a failed check prints what was expected and aborts, so
// libFuzzer records the input as a crash and the run fails.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <cstdlib>

namespace fuzzcheck {

[[noreturn]] inline void fail(const char* file, int line, const char* condition, const QString& detail)
{
    std::fprintf(stderr, "\n*** property violated at %s:%d\n    %s\n", file, line, condition);
    if (!detail.isEmpty())
        std::fprintf(stderr, "    %s\n", detail.toLocal8Bit().constData());
    std::fflush(stderr);
    std::abort();
}

// Bytes as C-style escaped text for messages: "U\x01\r\n".
inline QString escaped(const QByteArray& bytes)
{
    QString out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7f && b != '\\' && b != '"')
            out += QLatin1Char(char(b));
        else
            out += QStringLiteral("\\x%1").arg(b, 2, 16, QLatin1Char('0'));
    }
    return QLatin1Char('"') + out + QLatin1Char('"');
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

} // namespace fuzzcheck

// CHECK(condition) or CHECK(condition, detail text): detail is only built when the check fails.
#define FUZZ_CHECK_1(cond)                                                                          \
    do {                                                                                            \
        if (!(cond))                                                                                \
            ::fuzzcheck::fail(__FILE__, __LINE__, #cond, QString());                                \
    } while (0)
#define FUZZ_CHECK_2(cond, detail)                                                                  \
    do {                                                                                            \
        if (!(cond))                                                                                \
            ::fuzzcheck::fail(__FILE__, __LINE__, #cond, (detail));                                 \
    } while (0)
#define FUZZ_CHECK_PICK(_1, _2, name, ...) name
#define CHECK(...) FUZZ_CHECK_PICK(__VA_ARGS__, FUZZ_CHECK_2, FUZZ_CHECK_1, unused)(__VA_ARGS__)
