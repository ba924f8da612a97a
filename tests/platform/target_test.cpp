// The build runs where it was built for: on the target, long is 32 bits and bytes are big-endian.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <sys/types.h>

#include "bool_t.h"

namespace {

TEST(TargetTest, WordSizeAndByteOrderMatchTheBuild)
{
#if defined(CLONE_TARGET_PPC32)
    EXPECT_EQ(sizeof(long), 4u);
    EXPECT_EQ(sizeof(void*), 4u);
    const std::uint32_t word = 0x01020304;
    unsigned char first;
    std::memcpy(&first, &word, 1);
    EXPECT_EQ(first, 0x01) << "not big-endian";
#else
    EXPECT_EQ(sizeof(long), sizeof(void*));
#endif
    // Sizes and file offsets are printed as intmax_t; they must hold files over 2 GiB everywhere.
    EXPECT_GE(sizeof(off_t), 8u);
    EXPECT_EQ(sizeof(bool_t), 4u);
}

}  // namespace
