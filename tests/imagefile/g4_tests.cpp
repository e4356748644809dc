// The Group 4 coder called directly, without the library around it.
#include "g4_encode.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "tests/core/fuzz_replay.h"

namespace {

int Collect(void *context, const BYTE *bytes, DWORD count) {
    auto *out = (std::vector<std::vector<BYTE>> *)context;
    out->emplace_back(bytes, bytes + count);
    return 1;
}

int Refuse(void *, const BYTE *, DWORD) {
    return 0;
}

// Codes lines of `width` pixels; each line is a text of '#' (black) and '.'.
std::vector<BYTE> Encode(LONG width, const std::vector<std::string> &lines) {
    std::vector<std::vector<BYTE>> blocks;
    G4Coder coder;
    EXPECT_TRUE(G4Begin(&coder, width, 0, Collect, &blocks));
    for (const std::string &text : lines) {
        std::vector<BYTE> line((width + 7) / 8, 0xFF);
        for (LONG x = 0; x < width; x++)
            if (text[x] == '#')
                line[x / 8] &= (BYTE) ~(0x80 >> (x % 8));
        EXPECT_TRUE(G4EncodeLine(&coder, line.data()));
    }
    EXPECT_TRUE(G4Finish(&coder));
    G4End(&coder);
    std::vector<BYTE> out;
    for (const auto &block : blocks)
        out.insert(out.end(), block.begin(), block.end());
    return out;
}

// Packs code words written as '0'/'1' texts, zero-padded to a byte.
std::vector<BYTE> Bits(const std::string &codes) {
    std::vector<BYTE> out((codes.size() + 7) / 8, 0);
    for (size_t i = 0; i < codes.size(); i++)
        if (codes[i] == '1')
            out[i / 8] |= (BYTE)(0x80 >> (i % 8));
    return out;
}

const std::string Eofb = "000000000001000000000001";

TEST(G4Coder, WhiteLineUnderWhiteReferenceIsV0) {
    EXPECT_EQ(Encode(8, {"........"}), Bits("1" + Eofb));
}

TEST(G4Coder, HorizontalModeThenV0) {
    // a1 = 0 is 8 from b1: horizontal, white 0 and black 3; then a1 = b1 = 8.
    EXPECT_EQ(Encode(8, {"###....."}), Bits("001"
                                            "00110101"
                                            "10"
                                            "1" +
                                            Eofb));
}

TEST(G4Coder, VerticalAndPassModesAgainstLineAbove) {
    // Line 2 against line 1: the black run moves one right (VR1 at its start,
    // V0 at its end), then the second run of line 1 is passed over.
    std::vector<BYTE> got = Encode(16, {"..####....##....", "...###.........."});
    std::string line1 = "001"
                        "0111"
                        "011" // H: white 2, black 4
                        "001"
                        "1011"
                        "11" // H: white 4, black 2
                        "1"; // V0 at the end of the line
    std::string line2 = "011"
                        "1"
                        "0001"
                        "1";
    EXPECT_EQ(got, Bits(line1 + line2 + Eofb));
}

TEST(G4Coder, InkBitOnlyChangesPolarity) {
    const LONG width = 333;
    std::vector<BYTE> line((width + 7) / 8);
    DWORD seed = 99;
    std::vector<std::vector<BYTE>> normal, inverted;
    G4Coder a, b;
    ASSERT_TRUE(G4Begin(&a, width, 0, Collect, &normal));
    ASSERT_TRUE(G4Begin(&b, width, 1, Collect, &inverted));
    for (int y = 0; y < 50; y++) {
        for (BYTE &byte : line)
            byte = (BYTE)((seed = seed * 1103515245 + 12345) >> 16);
        ASSERT_TRUE(G4EncodeLine(&a, line.data()));
        for (BYTE &byte : line)
            byte = (BYTE)~byte;
        ASSERT_TRUE(G4EncodeLine(&b, line.data()));
    }
    ASSERT_TRUE(G4Finish(&a));
    ASSERT_TRUE(G4Finish(&b));
    EXPECT_EQ(a.BytesOut, b.BytesOut);
    EXPECT_EQ(normal, inverted);
    EXPECT_GT(normal.size(), 1u) << "a noisy page should fill more than one block";
    G4End(&a);
    G4End(&b);
}

TEST(G4Coder, RefusedOutputFailsTheCoder) {
    G4Coder coder;
    ASSERT_TRUE(G4Begin(&coder, 64, 0, Refuse, nullptr));
    std::vector<BYTE> line(8, 0x55);
    int ok = 1;
    for (int y = 0; y < 2000 && ok; y++)
        ok = G4EncodeLine(&coder, line.data());
    EXPECT_FALSE(ok && G4Finish(&coder));
    G4End(&coder);
}

TEST(G4Coder, WidthsWithoutAnAddressableLineBufferAreRefused) {
    // From 2^30 - 4 pixels on, the (width + 4) x 4 bytes of a line buffer pass
    // 4 GiB: the size wraps in the 32-bit build.
    for (LONG width : {0L, 0x3FFFFFFCL, 0x40000000L, 0x7FFFFFFFL}) {
        G4Coder coder;
        EXPECT_FALSE(G4Begin(&coder, width, 0, Collect, nullptr)) << width;
        G4End(&coder);
    }
}

TEST(G4Coder, SavedFuzzInputsAreCodedCleanly) {
    ReplaySavedInputs("g4_coder", ExerciseG4Coder);
}

} // namespace
