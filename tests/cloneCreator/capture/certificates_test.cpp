// Certificate capture: the three directory copies, and the root and domain link lists of the
// certificate store with what odd names, targets and certificates do to them.
#include <map>

#include "CaptureTest.h"

namespace {

using namespace clonetest;

const std::string& kData = kExportData;
const std::string kSsl = "/xpaths/nc_var_etc/ssl/";
const std::string kStore = kSsl + "certstore/";

// What the node holds: a staged path relative to the export tree, or nothing.
std::string expectedOutline(bool staged, const std::string& devicePath)
{
    return staged ? "node: " + devicePath.substr(std::string(CLONE_EXPORT_TREE).size()) + "\n" : "node\n";
}

class CertificatesTest : public CaptureTest {
protected:
    // TO holds copies of FROM's files NAMES (made by writeSource), and nothing else.
    void expectCopies(const std::string& from, const std::string& to, const Strings& names) const
    {
        EXPECT_EQ(sorted(listDir(path(to))), sorted(names));
        for (const std::string& name : names) {
            expectKept(to + name, readFile(path(from + name)));
        }
    }
};

struct CopyHelper {
    CloneCreator::Helper helper;
    std::string source, staging, creating, copyFailure;  // creating: the error's words before the directory
};

const CopyHelper kWireless = {&CloneCreator::cloneWirelessCertificatesHelper, "/xpaths/nc_dlms_data/http/data/",
                              kData + "wirelessCertificates/", "Creating of ",
                              "Wireless Certificates Cloning is failed"};
const CopyHelper kBook = {&CloneCreator::cloneAddressBookCertificatesHelper, "/xpaths/temp/certs/encryptionfiles/",
                          kData + "addressBook/email_certs/", "Creating ",
                          "Address book certificates are not able to clone"};
const CopyHelper kIPSec = {&CloneCreator::cloneIPSecCertificatesHelper, kSsl + "trusted/", kData + "ipSec/trusted/",
                           "Creating ", "IPSec Certificates are not able to clone"};

// What a case does besides putting its files (the staging directory's parent is made unless NoParent).
enum class Prep { None, NoParent, StagingExists, StagingIsLink };
enum class Outcome { Staged, DirFails, CopyFails, NothingLeft };

struct DirCopyCase {
    const char* name;
    const CopyHelper* h;
    Strings files;  // put into the source, each holding its name
    Prep prep;
    Outcome outcome;
    Strings staged;
};

CLONE_PRINT_BY_NAME(DirCopyCase)

const Strings kOddNames = {"a.pem", "b c.pem", "$(touch pwned);'q\"&.pem", "new\nline.pem"};

const DirCopyCase kDirCopyCases[] = {
    {"WirelessPemOnly", &kWireless, {"b c.pem", "$(touch pwned);'q\"&.pem", "new\nline.pem", "a.pem", "key.der",
     ".hidden.pem"}, Prep::None, Outcome::Staged, kOddNames},
    {"WirelessNoPem", &kWireless, {"key.der"}, Prep::None, Outcome::CopyFails, {}},
    {"WirelessStagingExists", &kWireless, {"a.pem", "kept"}, Prep::StagingExists, Outcome::DirFails, {"kept"}},
    {"AddressBook", &kBook, kOddNames, Prep::None, Outcome::Staged, kOddNames},
    {"AddressBookWithoutAddressBookDir", &kBook, {"a.pem"}, Prep::NoParent, Outcome::DirFails, {}},
    {"AddressBookEmpty", &kBook, {}, Prep::None, Outcome::CopyFails, {}},
    {"IPSecWithoutStunnel", &kIPSec, {"a.pem", "b c.pem", "stunnel.pem"}, Prep::NoParent, Outcome::Staged,
     {"a.pem", "b c.pem"}},
    {"IPSecOnlyStunnel", &kIPSec, {"stunnel.pem"}, Prep::None, Outcome::NothingLeft, {}},
    {"IPSecEmpty", &kIPSec, {}, Prep::None, Outcome::CopyFails, {}},
    {"IPSecStagingLinkLeadsOut", &kIPSec, {"a.pem"}, Prep::StagingIsLink, Outcome::DirFails, {}},
};

class CopyTest : public CertificatesTest, public ::testing::WithParamInterface<DirCopyCase> {};

TEST_P(CopyTest, StagesTheDirectoryAsItIs)
{
    const DirCopyCase& c = GetParam();
    const std::string staging = path(c.h->staging.substr(0, c.h->staging.size() - 1));
    for (const std::string& name : c.files) {
        writeSource(c.h->source + name, name);
    }
    if (c.prep != Prep::NoParent) {
        makeDirs(staging.substr(0, staging.rfind('/')));
    }
    if (c.prep == Prep::StagingExists) {
        writeSource(c.h->staging + "kept", "kept");  // as the source's, so that it reads as a copy
    } else if (c.prep == Prep::StagingIsLink) {
        makeDirs(path("/outside"));
        ASSERT_EQ(::symlink(path("/outside").c_str(), staging.c_str()), 0);
    }
    EXPECT_EQ(run(c.h->helper), c.outcome == Outcome::Staged ? TRUE : FALSE);
    EXPECT_EQ(outline(), expectedOutline(c.outcome == Outcome::Staged, c.h->staging));
    const Strings dirFailure = {c.h->creating + c.h->staging + " is failed"};
    EXPECT_EQ(messages("ERROR"), c.outcome == Outcome::DirFails ? dirFailure : Strings{});
    const Strings infos[] = {
        {}, {}, {c.h->copyFailure}, {"cloneIPSecCertificatesHelper : No root certificates are available2"}};
    EXPECT_EQ(messages("INFO"), infos[static_cast<int>(c.outcome)]);
    // A failed copy takes its empty directory away; what stood in the way is left as it was, and
    // nothing reaches the directory a link in the way leads to.
    const bool inTheWay = c.prep == Prep::StagingExists || c.prep == Prep::StagingIsLink;
    EXPECT_EQ(exists(staging), c.outcome == Outcome::Staged || c.outcome == Outcome::NothingLeft || inTheWay);
    expectCopies(c.h->source, c.h->staging, c.staged);
}

INSTANTIATE_TEST_SUITE_P(Certificates, CopyTest, ::testing::ValuesIn(kDirCopyCases), RowName());

// Every store test's device: certificates in ssl/trusted and ssl/domain ("root" has no key on the
// device, "device" has, "cut" is the device certificate cut short) and two store entries that are
// no links.
const std::map<std::string, std::string> kStoreFiles = {
    {"trusted/a.pem", "root"}, {"trusted/b.pem", "root"}, {"trusted/d.pem", "device"},
    {"trusted/not.pem", "not a certificate"}, {"trusted/empty.pem", ""}, {"trusted/cut.pem", "cut"},
    {"domain/ca.pem", "root"}, {"domain/dev.pem", "device"}, {"certstore/plain.pem", "root"},
    {"certstore/dir/a.pem", "root"}};

enum class Trap { None, StoreIsFile, ListsBlocked };

struct StoreCase {
    const char* name;
    std::map<std::string, std::string> links;  // friendly name to target
    Trap trap;  // ListsBlocked: a file where the root list's directory belongs, the domain list on a full disk
    Strings rootListed;  // friendly names
    Strings domainListed;
    Strings errors;  // of each helper, in any order
};

CLONE_PRINT_BY_NAME(StoreCase)

const std::string kTrusted = kSsl + "trusted/";
const std::string kA = kTrusted + "a.pem";
const std::string kLongName(180, 'n');
const std::string kName179(179, 'n');
const std::string kOdd = "$(touch pwned);'q\"&|<>,x";
const std::string kNotACertificate =
    " does not lead to a certificate file of the certificate folders; it is skipped";
const std::string kUnlistable = " has a line break in its name or target, or a comma in its target; it is skipped";

const StoreCase kStoreCases[] = {
    // What is no readable certificate has no key on the device, whatever key its bytes had. Names
    // may hold anything but a line break; targets neither a line break nor a comma.
    {"EveryKindOfLink",
     {{"Root A", kA}, {"Root B", kTrusted + "b.pem"}, {"Device TLS", kTrusted + "d.pem"},
      {"Relative device", "../trusted/d.pem"}, {"Domain CA", kSsl + "domain/ca.pem"},
      {"Domain device", kSsl + "domain/dev.pem"}, {"Not PEM", kTrusted + "not.pem"}, {"Empty", kTrusted + "empty.pem"},
      {"Cut device", kTrusted + "cut.pem"}, {"Dangling", kTrusted + "gone.pem"}, {"Loop A", "Loop B"},
      {"Loop B", "Loop A"}, {"Self", kStore + "Self"}, {kLongName, kA}, {kName179, kA}, {kOdd, kA},
      {"long target", "/" + std::string(4094, 't')}, {"new\nline", "/elsewhere/a.pem"},
      {"comma", "/elsewhere/a,b.pem"}, {"cr target", "/elsewhere/a\rb.pem"}},
     Trap::None, {"Root A", "Root B", "Not PEM", "Empty", "Cut device", kName179, kOdd},
     {"Domain CA", "Domain device"},
     {"Certificate store entry " + kLongName + " is longer than 179 characters; it is skipped",
      "Certificate store entry Relative device" + kNotACertificate,
      "Target of certificate store entry long target is too long; it is skipped",
      "Certificate store entry new\\nline" + kUnlistable, "Certificate store entry comma" + kUnlistable,
      "Certificate store entry cr target" + kUnlistable, "Certificate store entry Dangling" + kNotACertificate,
      "Certificate store entry Loop A" + kNotACertificate, "Certificate store entry Loop B" + kNotACertificate,
      "Certificate store entry Self" + kNotACertificate}},
    // An installing device would make each link again in its own store: none may lead anywhere
    // but to a certificate file of the certificate folders.
    {"LinksOutOfTheCertificateFolders",
     {{"Root A", kA}, {"Key", kSsl + "private/key"}, {"Up and out", "../../../../../../../../../../etc/passwd"},
      {"Absolute out", "/etc/passwd"}, {"Folder", kTrusted}, {"Via folder", kTrusted + "../private/key"},
      {"Back in", kSsl + "private/../trusted/b.pem"}, {"Doubled slash", kSsl + "trusted//b.pem"}},
     Trap::None, {"Root A"}, {},
     {"Certificate store entry Key" + kNotACertificate, "Certificate store entry Up and out" + kNotACertificate,
      "Certificate store entry Back in" + kNotACertificate, "Certificate store entry Doubled slash" + kNotACertificate,
      "Certificate store entry Absolute out" + kNotACertificate, "Certificate store entry Folder" + kNotACertificate,
      "Certificate store entry Via folder" + kNotACertificate}},
    {"NoLinks", {}, Trap::None, {}, {}, {}},
    {"StoreIsAFile", {}, Trap::StoreIsFile, {}, {}, {" " + kStore + " is not accessible"}},
    {"ListsCannotBeWritten", {{"Root A", kA}, {"Domain", kSsl + "domain/ca.pem"}}, Trap::ListsBlocked, {}, {}, {}},
};

class StoreTest : public CertificatesTest, public ::testing::WithParamInterface<StoreCase> {
protected:
    // A certificate without a key on the device and one with: its key is named by its subject hash.
    static void SetUpTestSuite()
    {
        char dir[] = "/tmp/certificates_test.XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        const std::string d = dir;
        ASSERT_EQ(std::system(("cd " + d + " && for c in root device; do openssl req -x509 -newkey ec -pkeyopt "
                               "ec_paramgen_curve:P-256 -nodes -days 3650 -subj /CN=$c -keyout $c.key -out $c.pem "
                               "2>/dev/null || exit 1; done && openssl x509 -hash -noout -in device.pem > hash")
                                  .c_str()), 0);
        certificates = {{"root", readFile(d + "/root.pem")}, {"device", readFile(d + "/device.pem")},
                        {"cut", readFile(d + "/device.pem").substr(0, 200)}, {"hash", lines(readFile(d + "/hash"))[0]}};
        ASSERT_EQ(std::system(("rm -rf " + d).c_str()), 0);
    }
    static std::map<std::string, std::string> certificates;
};

std::map<std::string, std::string> StoreTest::certificates;

TEST_P(StoreTest, ListsTheLinksOfEachKind)
{
    const StoreCase& c = GetParam();
    const std::string rootDir = kData + "rootCertificates/", domainDir = kData + "domainCertificates/";
    writeSource(kSsl + "private/" + certificates["hash"], "device key");
    writeSource(kSsl + "private/key", "a key");
    for (const auto& file : kStoreFiles) {
        writeSource(kSsl + file.first, certificates.count(file.second) != 0 ? certificates[file.second] : file.second);
    }
    for (const auto& link : c.links) {
        ASSERT_EQ(::symlink(link.second.c_str(), path(kStore + link.first).c_str()), 0) << link.first;
    }
    // Room for the two domain certificates, none for the list after them.
    const std::unique_ptr<TmpfsMount> full(c.trap == Trap::ListsBlocked ? new TmpfsMount(path(domainDir), "size=8k")
                                                                        : nullptr);
    if (c.trap == Trap::StoreIsFile) {
        removeTree(kStore);
        writeFile(path(kStore.substr(0, kStore.size() - 1)), "");
    } else if (full) {
        CLONE_SKIP_UNLESS_MOUNTED(*full);
        writeFile(path(rootDir.substr(0, rootDir.size() - 1)), "kept");
    }
    const struct {
        CloneCreator::Helper helper;
        const Strings& listed;
        std::string list, terminator, none, kind;
    } runs[] = {{&CloneCreator::cloneRootCertificateHelper, c.rootListed, rootDir + "rootCertificates.ln", "\n",
                 "Root Certificate is not available", "root"},
                {&CloneCreator::cloneDomainCertificatesHelper, c.domainListed, domainDir + "domainCertificates.ln",
                 "", "Domain Certificates are not available", "domain"}};
    for (const auto& r : runs) {
        SCOPED_TRACE(r.list);
        clearLog();
        xmlNodeSetContent(node(), nullptr);
        EXPECT_EQ(run(r.helper), r.listed.empty() ? FALSE : TRUE);
        EXPECT_EQ(outline(), expectedOutline(!r.listed.empty(), r.list));
        // Each entry once, in the store's order; a list without one is not left behind.
        EXPECT_EQ(exists(path(r.list)), !r.listed.empty());
        const std::string list = r.listed.empty() ? "" : readFile(path(r.list));
        std::size_t size = 0;
        for (const std::string& name : r.listed) {
            const std::string entry = c.links.at(name) + "," + kStore + name + r.terminator;
            EXPECT_NE(list.find(entry), std::string::npos) << entry;
            size += entry.size();
        }
        EXPECT_EQ(list.size(), size) << list;
        const Strings blocked = {r.list + " cannot be written; " + r.kind + " certificates are not cloned"};
        EXPECT_EQ(sorted(messages("ERROR")), c.trap == Trap::ListsBlocked ? blocked : sorted(c.errors));
        EXPECT_EQ(messages("INFO"), c.trap == Trap::None && r.listed.empty() ? Strings{r.none} : Strings{});
    }
    // The domain certificate files are staged whatever the store holds; the root list's directory
    // is left only with a list in it (or when something else stood there).
    EXPECT_EQ(exists(path(kData + "rootCertificates")), !c.rootListed.empty() || c.trap == Trap::ListsBlocked);
    ::unlink(path(domainDir + "domainCertificates.ln").c_str());
    expectCopies(kSsl + "domain/", domainDir, {"ca.pem", "dev.pem"});
}

INSTANTIATE_TEST_SUITE_P(Certificates, StoreTest, ::testing::ValuesIn(kStoreCases), RowName());

}  // namespace
