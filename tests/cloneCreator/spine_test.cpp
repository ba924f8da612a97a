// The export spine: group line parsing, the manifest walk and the entry point's result.
#include <gtest/gtest.h>

#include "CloneCreator.h"
#include "DeviceTest.h"

namespace {

using clonetest::DeviceTest;

class SpineTest : public DeviceTest {};

TEST_F(SpineTest, NullGroupLineReportsNoGroupsAndNoManifest)
{
    char out[] = "/tmp";
    EXPECT_EQ(createCloneDLM(out, "pw", nullptr), 1);
    EXPECT_TRUE(logged("ERROR", "No cloning groups received"));
    EXPECT_TRUE(logged("ERROR", "Stub Manifest file is not created"));
}

}  // namespace
