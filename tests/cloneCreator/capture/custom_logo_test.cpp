// Customer logo and blocking screen: what each kind of source leaves in data/customLogo/, the value
// file and every failure record.
#include "CaptureTest.h"

namespace {

using namespace clonetest;

const std::string kSrc = "/xpaths/customer_logo/", kStaged = "/xpaths/tmp_cloningData/cloningExport/data/customLogo/";
const std::string kAttr = "authentication.convenience.blockingScreenImageType";
const std::string kValues = "customerLogoConfigValues.txt";
const std::string kImageFailed = "Unable to clone blocking screen background image - image copy failed.";
const std::string kLogoFailed = "Customer logo is unable to be cloned - logo image copy failed.";
const std::string kLink = "Symlink found - nothing to clone - using the default blocking screen image.";
const std::string kTaken = "Cannot clone blocking screen images and config data - unable to create directory.";
const std::string kShelly = "a b;$(touch x)`id`'\"|*";

std::string saving(const std::string& t)
{
    return "Saving " + kAttr + "=" + t + " to the config value file";
}

// The INFO records of a run that copies the image of type T.
Strings copying(const std::string& t)
{
    return {saving(t), "Cloning " + kSrc + "fdi_card_access." + t + " to data/customLogo/fdi_card_access." + t + "."};
}

Strings badType(const std::string& t)
{
    return {"Blocking screen image type " + t + " is not a file name extension; it is not cloned"};
}

// TYPE is the attribute's value ("-": none); LOGO and IMAGE are what uploaded_logo.png and
// fdi_card_access.TYPE are (see place), "taken" a staging directory already there. Which steps ran
// shows in what is staged and logged.
struct LogoCase {
    const char *name, *type, *logo, *image;
    bool_t result;
    Strings staged, errors, infos;
};
CLONE_PRINT_BY_NAME(LogoCase)

const LogoCase kLogoCases[] = {
    {"LogoAndImage", "png", "file", "file", TRUE, {kValues, "fdi_card_access.png", "uploaded_logo.png"}, {},
     copying("png")},
    {"NoLogoImageIsLink", "png", "", "link", TRUE, {kValues}, {}, {saving("png"), kLink}},
    {"NoTypeAttribute", "-", "", "", FALSE, {kValues}, {kImageFailed}, copying("")},
    {"ImageIsDirectory", "png", "file", "dir", FALSE, {kValues, "uploaded_logo.png"}, {kImageFailed},
     copying("png")},
    {"LogoIsDirectoryImageNotTried", "png", "dir", "file", FALSE, {kValues}, {kLogoFailed}, {saving("png")}},
    {"TypeOfShellWords", kShelly.c_str(), "", "file", TRUE, {kValues, "fdi_card_access." + kShelly}, {},
     copying(kShelly)},
    {"TypeWithSlash", "x/../png", "file", "", FALSE, {}, badType("x/../png"), {}},
    {"TypeWithCarriageReturn", "png\r", "file", "", FALSE, {}, badType("png\r"), {}},
    {"StagingDirectoryTaken", "png", "file", "taken", FALSE, {}, {kTaken}, {}},
};

class LogoCaseTest : public CaptureTest, public testing::WithParamInterface<LogoCase> {
protected:
    // WHAT at the device path NAME: "file" (see writeSource), "dir", a "link" to a file; anything
    // else leaves nothing.
    void place(const std::string& name, const std::string& what) const
    {
        if (what == "file") {
            writeSource(name, name);
        } else if (what == "dir") {
            makeDirs(path(name));
        } else if (what == "link") {
            writeFile(path(name) + ".target", "default image");
            ::symlink((path(name) + ".target").c_str(), path(name).c_str());
        }
    }
};

TEST_P(LogoCaseTest, StagesWhatIsThereAndNamesTheDirectoryWhateverFailed)
{
    const LogoCase& c = GetParam();
    const std::string type = c.type == std::string("-") ? "" : c.type;
    type == c.type ? setAttribute(kAttr, type) : writeFile(path("/config/attributes"), "");
    place(kSrc + "uploaded_logo.png", c.logo);
    place(kSrc + "fdi_card_access." + type, c.image);
    makeDirs(path(c.image == std::string("taken") ? kStaged : kExportData));
    clearLog();

    EXPECT_EQ(creator.cloneCustomLogoHelper(node()), c.result);
    EXPECT_EQ(outline(), c.errors == Strings{kTaken} ? "node\n" : "node: data/customLogo/\n");
    EXPECT_EQ(sorted(listDir(path(kStaged))), c.staged);
    EXPECT_EQ(messages("ERROR"), c.errors);
    EXPECT_EQ(messages("INFO"), c.infos);
    for (const std::string& name : c.staged) {
        if (name == kValues) {
            EXPECT_EQ(readFile(path(kStaged + name)), kAttr + "=" + type);
        } else {
            expectKept(kStaged + name, kSrc + name);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, LogoCaseTest, testing::ValuesIn(kLogoCases), RowName());

TEST_F(CaptureTest, AValueFileNotWrittenWholeIsAFailureAndLeftOut)
{
    makeDirs(path(kStaged + kValues));
    EXPECT_FALSE(creator.cloneBlockingScreenImageTypeConfigValue("png"));
    ::rmdir(path(kStaged + kValues).c_str());
    const TmpfsMount full(path(kStaged), "size=16k");
    CLONE_SKIP_UNLESS_MOUNTED(full);
    full.fill();
    EXPECT_FALSE(creator.cloneBlockingScreenImageTypeConfigValue("png"));
    EXPECT_FALSE(exists(path(kStaged + kValues)));
    const std::string failed = "Blocking screen image type config value unable to be cloned - cannot ";
    EXPECT_EQ(messages("ERROR"), (Strings{failed + "create file.", failed + "write file."}));
}

}  // namespace
