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

using morvandell::Byte;
using morvandell::Bytes;
using morvandell::UpdateProtocol;
using Answer = UpdateProtocol::Answer;

namespace {

bool isAnswerByte(Byte b)
{
    return b == 0x05 || b == 0x06 || b == 0x07;
}

bool onlyAnswerBytes(const Bytes& read)
{
    return std::all_of(read.begin(), read.end(), isAnswerByte);
}

Bytes bytesOf(const std::vector<Answer>& answers)
{
    Bytes out;
    for (const Answer a : answers)
        out.push_back(Byte(a));
    return out;
}

std::vector<Answer> checkRead(const Bytes& read)
{
    const std::vector<Answer> answers = UpdateProtocol::answersIn(read);
    if (onlyAnswerBytes(read))
        CHECK(bytesOf(answers) == read,
              fuzzcheck::escaped(read) + " yields " + fuzzcheck::escaped(bytesOf(answers)));
    else
        CHECK(answers.empty(),
              "noise " + fuzzcheck::escaped(read) + " yields " + fuzzcheck::escaped(bytesOf(answers)));
    for (const Answer a : answers)
        CHECK(!UpdateProtocol::statusText(a).empty());
    return answers;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Bytes fromAnswerReads;
    Bytes yielded;
    for (std::size_t pos = 0; pos < size;) {
        const std::size_t length = std::min<std::size_t>(data[pos] & 0x0f, size - pos - 1);
        const Bytes read(data + pos + 1, data + pos + 1 + length);
        pos += 1 + length;
        morvandell::append(yielded, bytesOf(checkRead(read)));
        if (onlyAnswerBytes(read))
            morvandell::append(fromAnswerReads, read);
    }
    CHECK(yielded == fromAnswerReads,
          fuzzcheck::escaped(yielded) + " instead of " + fuzzcheck::escaped(fromAnswerReads));
    checkRead(Bytes(data, data + size));

    const std::string ready = UpdateProtocol::statusText(Answer::Ready);
    const std::string ack = UpdateProtocol::statusText(Answer::Ack);
    const std::string complete = UpdateProtocol::statusText(Answer::Complete);
    CHECK(ready != ack && ack != complete && ready != complete);
    return 0;
}
