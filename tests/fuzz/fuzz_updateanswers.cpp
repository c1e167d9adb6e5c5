// Fuzz target for the update window's answer handling: which answers one read of the port yields.
//
// Input: a sequence of reads, each one length byte (0..15, low four bits) followed by that many
// bytes; the whole input is also taken as one read.
//
// Properties, for every read:
// - a read that holds any byte other than 0x05, 0x06 and 0x07 yields no answer, so noise never
//   counts as the ready byte, an acknowledgement or the completion;
// - a read made only of those bytes yields exactly one answer per byte, in the order of the bytes;
// - every answer has a status text, a different one for each answer;
// - over the sequence, the answers are exactly the bytes of the answer-only reads, in order.
#include "fuzzcheck.h"
#include "updater/updateprotocol.h"

#include <algorithm>
#include <cstdint>

using morvandell::UpdateProtocol;
using Answer = UpdateProtocol::Answer;

namespace {

bool isAnswerByte(char c)
{
    return c == 0x05 || c == 0x06 || c == 0x07;
}

QByteArray bytesOf(const QList<Answer>& answers)
{
    QByteArray out;
    for (const Answer a : answers)
        out += char(std::uint8_t(a));
    return out;
}

QList<Answer> checkRead(const QByteArray& read)
{
    const QList<Answer> answers = UpdateProtocol::answersIn(read);
    bool onlyAnswers = true;
    for (const char c : read)
        onlyAnswers = onlyAnswers && isAnswerByte(c);
    if (onlyAnswers)
        CHECK(bytesOf(answers) == read, fuzzcheck::escaped(read) + QLatin1String(" yields ")
                                            + fuzzcheck::escaped(bytesOf(answers)));
    else
        CHECK(answers.isEmpty(), QLatin1String("noise ") + fuzzcheck::escaped(read) + QLatin1String(" yields ")
                                     + fuzzcheck::escaped(bytesOf(answers)));
    for (const Answer a : answers)
        CHECK(!UpdateProtocol::statusText(a).isEmpty());
    return answers;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const char* bytes = reinterpret_cast<const char*>(data);
    QByteArray fromAnswerReads;
    QByteArray yielded;
    for (std::size_t pos = 0; pos < size;) {
        const std::size_t length = std::min<std::size_t>(data[pos] & 0x0f, size - pos - 1);
        const QByteArray read(bytes + pos + 1, qsizetype(length));
        pos += 1 + length;
        yielded += bytesOf(checkRead(read));
        bool onlyAnswers = true;
        for (const char c : read)
            onlyAnswers = onlyAnswers && isAnswerByte(c);
        if (onlyAnswers)
            fromAnswerReads += read;
    }
    CHECK(yielded == fromAnswerReads, fuzzcheck::escaped(yielded) + QLatin1String(" instead of ")
                                          + fuzzcheck::escaped(fromAnswerReads));
    checkRead(QByteArray(bytes, qsizetype(size)));

    const QString ready = UpdateProtocol::statusText(Answer::Ready);
    const QString ack = UpdateProtocol::statusText(Answer::Ack);
    const QString complete = UpdateProtocol::statusText(Answer::Complete);
    CHECK(ready != ack && ack != complete && ready != complete);
    return 0;
}
