// The build runs where it was built for: on the target, long is 32 bits and bytes are big-endian.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <sys/types.h>

#include "bool_t.h"

namespace {

bool bigEndian()
{
    const std::uint32_t word = 0x01020304;
    unsigned char first;
    std::memcpy(&first, &word, 1);
    return first == 0x01;
}

TEST(TargetTest, WordSizeAndByteOrderMatchTheBuild)
{
#if defined(CLONE_TARGET_PPC32)
    EXPECT_EQ(sizeof(long), 4u);
    EXPECT_EQ(sizeof(void*), 4u);
    EXPECT_TRUE(bigEndian());
#else
    EXPECT_EQ(sizeof(long), sizeof(void*));
#endif
    // Sizes and file offsets are printed as intmax_t; they must hold files over 2 GiB everywhere.
    EXPECT_GE(sizeof(off_t), 8u);
    EXPECT_EQ(sizeof(bool_t), 4u);
    RecordProperty("long_bits", static_cast<int>(sizeof(long) * CHAR_BIT));
    RecordProperty("big_endian", bigEndian() ? "yes" : "no");
}

}  // namespace
