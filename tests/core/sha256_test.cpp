// SHA-256 against the standard test vectors, whole and fed in pieces of every size.
#include "coresupport.h"

#include "updater/sha256.h"

#include <gtest/gtest.h>

using namespace morvandell;
using namespace morvandell::test;

namespace {

struct VectorRow
{
    const char* name;
    std::string message;
    const char* digest;
};

// The vectors of FIPS 180-4's examples and the NIST test suite, and lengths at the padding's edges
// (a message of 55 bytes still fits the length into its block, one of 56 does not).
std::vector<VectorRow> vectors()
{
    return {
        {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"twoBlocks448Bits", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"message896Bits",
         "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmno"
         "pqrst"
         "nopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {"millionA", std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {"bytes55", std::string(55, 'x'), "d5e285683cd4efc02d021a5c62014694958901005d6f71e89e0989fac77e4072"},
        {"bytes56", std::string(56, 'x'), "04c26261370ee7541549d16dee320c723e3fd14671e66a099afe0a377c16888e"},
        {"bytes63", std::string(63, 'x'), "75220b47218278e656f2013bb8f0c455a25eaf01e86c64924e9d48d89776d6f2"},
        {"bytes64", std::string(64, 'x'), "7ce100971f64e7001e8fe5a51973ecdfe1ced42befe7ee8d5fd6219506b5393c"},
    };
}

class Sha256Vector : public testing::TestWithParam<VectorRow>
{
};

TEST_P(Sha256Vector, givesTheStandardDigest)
{
    EXPECT_EQ(Sha256::hexOf(bytes(GetParam().message)), GetParam().digest);
}

TEST_P(Sha256Vector, givesTheSameDigestFedInPiecesOfAnySize)
{
    const Bytes message = bytes(GetParam().message);
    for (const std::size_t piece : {std::size_t(1), std::size_t(3), std::size_t(63), std::size_t(64),
                                    std::size_t(65), std::size_t(16384)}) {
        Sha256 hash;
        for (std::size_t at = 0; at < message.size(); at += piece)
            hash.add(message.data() + at, std::min(piece, message.size() - at));
        EXPECT_EQ(Sha256::hex(hash.finish()), GetParam().digest) << "pieces of " << piece;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, Sha256Vector, testing::ValuesIn(vectors()),
                         [](const testing::TestParamInfo<VectorRow>& info) {
                             return std::string(info.param.name);
                         });

TEST(Sha256, startsAfreshAfterFinish)
{
    Sha256 hash;
    hash.add(bytes("something else"));
    hash.finish();
    hash.add(bytes("abc"));
    EXPECT_EQ(Sha256::hex(hash.finish()), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

} // namespace
