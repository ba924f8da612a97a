// Serial number and clone format version, written straight into their manifest elements wherever
// the walk meets them.
#include <libxml/parser.h>

#include "CaptureTest.h"

namespace {

using namespace clonetest;

struct IdentityCase {
    const char* name;
    const char* serial;  // null: not configured
    std::string manifest;
    std::string after;
    Strings errors;
};

CLONE_PRINT_BY_NAME(IdentityCase)

// Longer than a value buffer (1063 bytes): all of it, and with a two-byte character across the end.
const std::string kLongSerial(1100, 'x');
const std::string kSplitSerial = std::string(1062, 'x') + "\xc3\xa9yyy";
const std::string kCut = "Configuration value sysMgmt.serialNumber is longer than 1063 bytes; only its first ";

const std::vector<IdentityCase> kIdentityCases = {
    // A version already written, or with children (as the address book's has), is kept as it is.
    {"SerialAndEveryVersion", "SN42",
     "<ConfigurationManifest><cloningData><version/><book><version number=\"1.0.0\"><entry/></version></book>"
     "</cloningData><version>2.1.0</version><serialNumber/></ConfigurationManifest>",
     "ConfigurationManifest\n  cloningData\n    version: 1.0.0\n    book\n      version[number=1.0.0]\n"
     "        entry\n  version: 2.1.0\n  serialNumber: SN42\n",
     {}},
    {"SerialLongerThanTheBufferIsCutAndSaid", kLongSerial.c_str(), "<r><serialNumber/></r>",
     "r\n  serialNumber: " + std::string(1063, 'x') + "\n", {kCut + "1063 are used"}},
    {"CutNeverSplitsACharacter", kSplitSerial.c_str(), "<r><serialNumber/></r>",
     "r\n  serialNumber: " + std::string(1062, 'x') + "\n", {kCut + "1062 are used"}},
    {"SerialUnreadable", nullptr, "<r><serialNumber>kept</serialNumber></r>", "r\n  serialNumber: kept\n",
     {"cloneSerialNumberHelper:, Serial Number is not able to retrieved"}},
};

class IdentityTest : public CaptureTest, public ::testing::WithParamInterface<IdentityCase> {};

TEST_P(IdentityTest, WalkFillsTheElements)
{
    const IdentityCase& c = GetParam();
    // Only the serial number a case sets.
    writeFile(path("/config/attributes"), "");
    if (c.serial != nullptr) {
        setAttribute("sysMgmt.serialNumber", c.serial);
    }
    doc.reset(xmlReadMemory(c.manifest.data(), static_cast<int>(c.manifest.size()), nullptr, nullptr, 0));
    ASSERT_TRUE(doc);
    creator.processStubManifestXML(node());
    EXPECT_EQ(outline(), c.after);
    EXPECT_EQ(messages("ERROR"), c.errors);
}

INSTANTIATE_TEST_SUITE_P(Identity, IdentityTest, ::testing::ValuesIn(kIdentityCases), RowName());

}  // namespace
