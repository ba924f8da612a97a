// What clonefile show and diff read out of a clone file: one pass over the archive that keeps a
// few facts per member (never a whole member), the manifest's elements, the certificate store's
// link lists and the certificates of PEM members, and the line changes between two versions of a
// text member.
#ifndef CLONE_TOOLS_CLONEFILE_CONTENTS_H
#define CLONE_TOOLS_CLONEFILE_CONTENTS_H

#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "clone_archive.h"
#include "clone_container.h"

namespace clonetool {

// Bounds on what is held of a member while the archive streams past.
// Link lists and certificate files are parsed only up to this size.
constexpr std::size_t kMaxParsedMember = 1u << 20;
// Line hashes (8 bytes a line) kept of one text member, and of all members of one clone file.
constexpr std::size_t kMaxLinesPerMember = 1u << 20;
constexpr std::size_t kMaxLinesKept = 4u << 20;
// diff --content shows changed text members up to this size.
constexpr std::size_t kMaxContentMember = 1u << 20;
// Certificates listed by show; beyond, they are counted only.
constexpr std::size_t kMaxCertificates = 10000;
// Members show lists as not named by the manifest; beyond, they are counted only.
constexpr std::size_t kMaxUnnamedListed = 1000;
// A certificate whose end is this near is "expiring".
constexpr std::int64_t kExpiringDays = 30;

const char* typeName(char type);

// One member as the archive holds it.
struct MemberFacts {
    std::string relative;  // inside the export tree, without "./" (the name as stored when it is not a safe path)
    std::string target;    // of a link
    std::uint64_t size = 0;
    std::uint64_t lines = 0;  // of a text member
    std::array<std::uint8_t, 32> sha256{};  // of a file, when asked for
    std::uint32_t mode = 0;
    char type = '0';    // '0' file, '1' hard link, '2' symbolic link, '5' directory, ...
    bool text = false;  // a file without a NUL byte
    bool hashed = false;  // its line hashes are in IndexWants::hashPool from HASHESAT, HASHCOUNT of them
    std::uint32_t occurrences = 1;  // members of this name in the archive
    std::uint32_t hashesAt = 0;
    std::uint32_t hashCount = 0;
};

// What one pass over an archive does with each member's data besides counting.
struct IndexWants {
    bool sha256 = false;
    // Line hashes of text members of up to kMaxLinesPerMember lines, handed to EACH.
    bool lineHashes = false;
    // Where to keep the line hashes of text members, up to kMaxLinesKept in all, rather than in a
    // container per member: a million members cost 16 bytes each, not a map node and a vector.
    std::vector<std::uint64_t>* hashPool = nullptr;
    // Whether to keep the member's data (up to kMaxParsedMember bytes) for EACH.
    std::function<bool(const MemberFacts&)> keep;
    // Called after each member. HASHES is null unless every line was hashed; DATA is null unless
    // the whole member was kept.
    std::function<bool(const MemberFacts&, std::vector<std::uint64_t>* hashes, const std::string* data,
                       std::string& error)>
        each;
};

struct ArchiveIndex {
    std::vector<MemberFacts> members;  // by relative path; a name that occurs twice is its later member, as tar extracts it
    std::string manifestName;          // empty: none
    std::string manifest;
    std::uint64_t files = 0;  // regular files and hard links
    std::uint64_t bytes = 0;  // of the regular files

    const MemberFacts* find(const std::string& relative) const;
    // The members below FOLDER (a relative path without its trailing slash), FOLDER itself not.
    std::pair<std::vector<MemberFacts>::const_iterator, std::vector<MemberFacts>::const_iterator> below(
        const std::string& folder) const;
};

// One pass over the archive of the clone file open at FD: every member's facts, the manifest.
bool indexArchive(int fd, const clonefmt::CloneFileInfo& info, const IndexWants& wants, ArchiveIndex& index,
                  std::string& error);

// One element of the manifest, in document order.
struct Element {
    std::string path;  // names from the root joined by "/", a repeated sibling as "name[2]", ...
    std::string name;
    unsigned depth = 0;  // 0 for the root
    std::vector<std::pair<std::string, std::string>> attributes;
    bool leaf = true;  // holds no element
    std::string text;  // a leaf's text, blanks around it removed
};

bool parseManifest(const std::string& xml, std::vector<Element>& elements, std::string& error);

// The export tree path a leaf element names ("data/..."), or "" when its text names none.
std::string namedPath(const Element& e);

// An entry of a certificate store link list: the store link NAME (its friendly name) at LINK
// leads to the certificate file TARGET on the device.
struct LinkEntry {
    std::string name;
    std::string link;
    std::string target;
};

// "TARGET,LINK" entries, each ended by a line break (root certificates) or by nothing (domain
// certificates, where the next entry's absolute target begins right after a link's name).
std::vector<LinkEntry> parseLinkList(const std::string& text);

// Where the export tree holds the device certificate file TARGET, or "" when no capture copies its
// folder.
std::string memberOfDeviceCertificate(const std::string& target);

struct Certificate {
    std::string subject;
    std::string issuer;
    std::string notBefore;  // "YYYY-MM-DDTHH:MM:SSZ"
    std::string notAfter;
    std::int64_t daysLeft = 0;  // whole days from now to the end (negative once it has passed)
    std::string status;         // "valid", "expiring", "expired", "notYetValid"
};

// Every certificate of the PEM text (other PEM blocks are passed over), judged at NOW.
std::vector<Certificate> pemCertificates(const std::string& pem, std::time_t now);
bool holdsPemCertificate(const std::string& data);

// Lines added and removed from A to B (sequences of line hashes), as diff(1) counts them. A change
// too large to align (more than kMaxAlignedEdits lines after the common start and end) is counted
// as the lines of one version that the other lacks; EXACT is false then.
struct LineChanges {
    std::uint64_t added = 0;
    std::uint64_t removed = 0;
    bool exact = true;
};
constexpr std::size_t kMaxAlignedEdits = 20000;
LineChanges countLineChanges(const std::vector<std::uint64_t>& a, const std::vector<std::uint64_t>& b);

std::vector<std::uint64_t> lineHashesOf(const std::string& text);

// The unified diff (three lines of context) from A to B, headed by LABELA and LABELB, every line
// made printable. Empty when the texts are equal; false when the change is too large to align.
bool unifiedDiff(const std::string& a, const std::string& b, const std::string& labelA, const std::string& labelB,
                 std::string& out);

}  // namespace clonetool

#endif
