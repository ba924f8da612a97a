// clonefile diff: what differs between two clone files: the header labels, the manifest's
// elements, and the members (added, removed, changed by type, mode, link target, size or SHA-256),
// with the lines added and removed of a changed text member and, when asked, the lines themselves.
#include <map>

#include "clone_archive.h"
#include "clonefile_common.h"
#include "commands.h"
#include "contents.h"

namespace clonetool {

namespace {

constexpr int kSame = 0;
constexpr int kDifferent = 1;
constexpr int kTrouble = 2;

struct Side {
    std::string file;
    clonefmt::UniqueFd fd;
    clonefmt::CloneFileInfo info;
    ArchiveIndex index;
    std::vector<Element> elements;
    std::string manifestError;
};

struct ElementChange {
    const Element* a = nullptr;  // null: only in B
    const Element* b = nullptr;  // null: only in A
};

struct MemberChange {
    MemberChange(const MemberFacts* before, const MemberFacts* after) : a(before), b(after) {}
    const MemberFacts* a;  // null: added
    const MemberFacts* b;  // null: removed
    bool counted = false;
    LineChanges lines;
    std::string diff;     // --content
    std::string omitted;  // why no diff is shown
};

struct HeaderChange {
    const char* field;  // its JSON name
    const char* shown;
    std::string a;
    std::string b;
};

struct Comparison {
    std::vector<HeaderChange> header;
    std::vector<ElementChange> elements;
    std::vector<MemberChange> members;
    bool same() const { return header.empty() && elements.empty() && members.empty(); }
};

bool sameElement(const Element& a, const Element& b)
{
    return a.leaf == b.leaf && a.text == b.text && a.attributes == b.attributes;
}

bool sameMember(const MemberFacts& a, const MemberFacts& b)
{
    return a.type == b.type && a.mode == b.mode && a.target == b.target &&
           (a.type != '0' || (a.size == b.size && a.sha256 == b.sha256));
}

bool textChange(const MemberChange& c)
{
    return c.a != nullptr && c.b != nullptr && c.a->type == '0' && c.b->type == '0' && c.a->text && c.b->text &&
           c.a->sha256 != c.b->sha256;
}

void compareElements(const Side& a, const Side& b, Comparison& c)
{
    std::map<std::string, const Element*> inB;
    for (const Element& e : b.elements) {
        inB[e.path] = &e;
    }
    std::map<std::string, const Element*> inA;
    for (const Element& e : a.elements) {
        inA[e.path] = &e;
        const auto other = inB.find(e.path);
        if (other == inB.end()) {
            c.elements.push_back({&e, nullptr});
        } else if (!sameElement(e, *other->second)) {
            c.elements.push_back({&e, other->second});
        }
    }
    for (const Element& e : b.elements) {
        if (inA.count(e.path) == 0) {
            c.elements.push_back({nullptr, &e});
        }
    }
}

void compareMembers(const Side& a, const Side& b, Comparison& c)
{
    const std::vector<MemberFacts>& ma = a.index.members;
    const std::vector<MemberFacts>& mb = b.index.members;
    std::size_t i = 0;
    std::size_t k = 0;
    while (i < ma.size() || k < mb.size()) {
        if (k == mb.size() || (i < ma.size() && ma[i].relative < mb[k].relative)) {
            c.members.emplace_back(&ma[i++], nullptr);
        } else if (i == ma.size() || mb[k].relative < ma[i].relative) {
            c.members.emplace_back(nullptr, &mb[k++]);
        } else {
            if (!sameMember(ma[i], mb[k])) {
                c.members.emplace_back(&ma[i], &mb[k]);
            }
            ++i, ++k;
        }
    }
}

// --content: a second pass over each archive, reading only the changed text members small enough
// to show, and ending after the last of them.
bool collectContent(Side& side, std::map<std::string, std::string*>& wanted, std::string& error)
{
    // Every occurrence of a wanted name must pass before the walk may end: the last one counts.
    std::map<std::string, std::uint32_t> pending;
    for (const auto& w : wanted) {
        const MemberFacts* m = side.index.find(w.first);
        pending[w.first] = m != nullptr ? m->occurrences : 1;
    }
    std::size_t left = pending.size();
    auto scan = [&](const clonefmt::TarMember& m, clonefmt::MemberData& data, std::string& err) {
        std::string relative;
        if (!clonefmt::safeRelativePath(m.name, relative)) {
            relative = m.name;
        }
        const auto it = wanted.find(relative);
        if (it == wanted.end() || !m.isFile()) {
            return clonefmt::Scan::Continue;
        }
        std::string& text = *it->second;
        text.clear();
        char buf[1 << 16];
        for (long n; (n = data.read(buf, sizeof buf)) != 0;) {
            if (n < 0) {
                err = "cannot read member " + printable(m.name);
                return clonefmt::Scan::Fail;
            }
            text.append(buf, static_cast<std::size_t>(n));
        }
        std::uint32_t& occurrences = pending[relative];
        if (occurrences > 0 && --occurrences == 0) {
            --left;
        }
        return left == 0 ? clonefmt::Scan::Stop : clonefmt::Scan::Continue;
    };
    bool stopped = false;
    return clonefmt::scanTarGz(side.fd.get(), side.info.archiveOffset, side.info.archiveSize, scan, stopped, error);
}

std::string shortSha(const MemberFacts& m)
{
    return clonefmt::hex(m.sha256.data(), m.sha256.size()).substr(0, 12);
}

std::string octalMode(std::uint32_t mode)
{
    char buf[16];
    (void)std::snprintf(buf, sizeof buf, "%04o", static_cast<unsigned>(mode));  // at most 11 digits
    return buf;
}

std::string plural(std::uint64_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string memberText(const MemberFacts& m)
{
    std::string text = typeName(m.type);
    if (m.type == '0') {
        text += ", " + plural(m.size, "byte", "bytes") + ", sha256 " + shortSha(m);
    } else if (m.type == '1' || m.type == '2') {
        text += " to " + printable(m.target);
    }
    return text;
}

// " NAME=\"VALUE\"..." then ": TEXT" for a leaf.
std::string elementText(const Element& e)
{
    std::string text;
    for (const auto& a : e.attributes) {
        text += " " + printable(a.first) + "=\"" + printable(a.second) + "\"";
    }
    return e.leaf ? text + ": " + printable(e.text) : text;
}

std::string changeText(const MemberChange& c)
{
    const MemberFacts& a = *c.a;
    const MemberFacts& b = *c.b;
    std::vector<std::string> parts;
    if (a.type != b.type) {
        parts.push_back(typeName(a.type) + arrow() + typeName(b.type));
    }
    if (a.mode != b.mode) {
        parts.push_back("mode " + octalMode(a.mode) + arrow() + octalMode(b.mode));
    }
    if (a.target != b.target) {
        parts.push_back("target " + printable(a.target) + arrow() + printable(b.target));
    }
    if (a.type == '0' && b.type == '0' && a.sha256 != b.sha256) {
        parts.push_back(a.size == b.size ? plural(a.size, "byte", "bytes")
                                         : std::to_string(a.size) + arrow() + plural(b.size, "byte", "bytes"));
        parts.push_back("sha256 " + shortSha(a) + arrow() + shortSha(b));
    }
    if (textChange(c)) {
        parts.push_back(c.counted ? std::string(c.lines.exact ? "" : "about ") + plural(c.lines.added, "line", "lines") +
                                        " added, " + std::to_string(c.lines.removed) + " removed"
                                  : "lines not counted (too many)");
    }
    std::string text;
    for (const std::string& p : parts) {
        text += (text.empty() ? "" : ", ") + p;
    }
    return text;
}

void writeHuman(const Side& a, const Side& b, const Comparison& c, bool content, Output& out)
{
    if (c.same()) {
        return;  // as diff(1): the exit status says it
    }
    out << "--- " << printable(a.file) << " (" << a.info.cloneType << " " << a.info.name << ")\n";
    out << "+++ " << printable(b.file) << " (" << b.info.cloneType << " " << b.info.name << ")\n";
    for (const HeaderChange& h : c.header) {
        out << h.shown << ": " << printable(h.a) << arrow() << printable(h.b) << "\n";
    }
    const auto section = [&out](const char* title, std::size_t count) {
        if (count > 0) {
            out << title << " (" << count << ")\n";
        }
    };
    std::size_t onlyA = 0, onlyB = 0, changed = 0;
    for (const ElementChange& e : c.elements) {
        onlyA += e.b == nullptr, onlyB += e.a == nullptr, changed += e.a != nullptr && e.b != nullptr;
    }
    section("elements only in A", onlyA);
    for (const ElementChange& e : c.elements) {
        if (e.b == nullptr) {
            out << "  - " << printable(e.a->path) << elementText(*e.a) << "\n";
        }
    }
    section("elements only in B", onlyB);
    for (const ElementChange& e : c.elements) {
        if (e.a == nullptr) {
            out << "  + " << printable(e.b->path) << elementText(*e.b) << "\n";
        }
    }
    section("elements changed", changed);
    for (const ElementChange& e : c.elements) {
        if (e.a != nullptr && e.b != nullptr) {
            const std::string before = elementText(*e.a);
            const std::string after = elementText(*e.b);
            out << "  ~ " << printable(e.a->path) << before << arrow()
                << (after.compare(0, 2, ": ") == 0 ? after.substr(2) : after) << "\n";
        }
    }
    std::size_t removed = 0, added = 0;
    changed = 0;
    for (const MemberChange& m : c.members) {
        removed += m.b == nullptr, added += m.a == nullptr, changed += m.a != nullptr && m.b != nullptr;
    }
    section("members removed (only in A)", removed);
    for (const MemberChange& m : c.members) {
        if (m.b == nullptr) {
            out << "  - " << printable(m.a->relative) << "  (" << memberText(*m.a) << ")\n";
        }
    }
    section("members added (only in B)", added);
    for (const MemberChange& m : c.members) {
        if (m.a == nullptr) {
            out << "  + " << printable(m.b->relative) << "  (" << memberText(*m.b) << ")\n";
        }
    }
    section("members changed", changed);
    for (const MemberChange& m : c.members) {
        if (m.a != nullptr && m.b != nullptr) {
            out << "  ~ " << printable(m.a->relative) << "  (" << changeText(m) << ")\n";
        }
    }
    const std::size_t total = c.header.size() + c.elements.size() + c.members.size();
    out << plural(total, "difference", "differences") << "\n";
    for (const MemberChange& m : c.members) {
        if (!content) {
            break;
        }
        if (!m.diff.empty()) {
            out << "\n" << m.diff;
        } else if (!m.omitted.empty()) {
            out << "\n" << printable((m.a != nullptr ? m.a : m.b)->relative) << ": content not shown (" << m.omitted
                << ")\n";
        }
    }
}

void jsonSide(Json& j, const char* key, const Side& side, bool keyGiven)
{
    j.key(key).begin('{');
    j.field("file", side.file).field("cloneType", side.info.cloneType).field("name", side.info.name);
    j.field("archiveSize", side.info.archiveSize).field("signature", keyGiven ? "valid" : "notChecked");
    j.key("manifest");
    side.index.manifestName.empty() ? j.null() : j.string(side.index.manifestName);
    j.key("manifestUnreadable").boolean(!side.manifestError.empty());
    j.end();
}

void jsonElement(Json& j, const Element& e)
{
    j.begin('{').field("path", e.path).key("text");
    e.leaf ? j.string(e.text) : j.null();
    j.key("attributes").begin('{');
    for (const auto& a : e.attributes) {
        j.field(a.first.c_str(), a.second);
    }
    j.end().end();
}

void jsonMember(Json& j, const MemberFacts& m, bool withName)
{
    j.begin('{');
    if (withName) {
        j.field("name", m.relative);
    }
    j.field("type", typeName(m.type)).field("mode", octalMode(m.mode));
    if (m.type == '0') {
        j.field("size", m.size).field("sha256", clonefmt::hex(m.sha256.data(), m.sha256.size()));
        j.key("text").boolean(m.text);
    }
    if (m.type == '1' || m.type == '2') {
        j.field("target", m.target);
    }
    j.end();
}

void writeJson(const Side& a, const Side& b, const Comparison& c, bool keyGiven, bool content, Output& out)
{
    Json j(out);
    j.begin('{');
    jsonSide(j, "a", a, keyGiven);
    jsonSide(j, "b", b, keyGiven);
    j.key("same").boolean(c.same());
    j.key("header").begin('[');
    for (const HeaderChange& h : c.header) {
        j.begin('{').field("field", h.field).field("a", h.a).field("b", h.b).end();
    }
    j.end();
    j.key("elements").begin('{');
    j.key("onlyInA").begin('[');
    for (const ElementChange& e : c.elements) {
        if (e.b == nullptr) {
            jsonElement(j, *e.a);
        }
    }
    j.end().key("onlyInB").begin('[');
    for (const ElementChange& e : c.elements) {
        if (e.a == nullptr) {
            jsonElement(j, *e.b);
        }
    }
    j.end().key("changed").begin('[');
    for (const ElementChange& e : c.elements) {
        if (e.a != nullptr && e.b != nullptr) {
            j.begin('{').field("path", e.a->path).key("a");
            jsonElement(j, *e.a);
            j.key("b");
            jsonElement(j, *e.b);
            j.end();
        }
    }
    j.end().end();
    j.key("members").begin('{');
    j.key("removed").begin('[');
    for (const MemberChange& m : c.members) {
        if (m.b == nullptr) {
            jsonMember(j, *m.a, true);
        }
    }
    j.end().key("added").begin('[');
    for (const MemberChange& m : c.members) {
        if (m.a == nullptr) {
            jsonMember(j, *m.b, true);
        }
    }
    j.end().key("changed").begin('[');
    for (const MemberChange& m : c.members) {
        if (m.a == nullptr || m.b == nullptr) {
            continue;
        }
        j.begin('{').field("name", m.a->relative).key("a");
        jsonMember(j, *m.a, false);
        j.key("b");
        jsonMember(j, *m.b, false);
        j.key("lines");
        if (m.counted) {
            j.begin('{').field("added", m.lines.added).field("removed", m.lines.removed);
            j.key("exact").boolean(m.lines.exact).end();
        } else {
            j.null();
        }
        if (content) {
            j.key("diff");
            m.diff.empty() ? j.null() : j.string(m.diff);
            j.key("diffOmitted");
            m.omitted.empty() ? j.null() : j.string(m.omitted);
        }
        j.end();
    }
    j.end().end();
    j.end();
}

}  // namespace

int cmdDiff(const Args& args)
{
    if (args.operands.size() != 2) {
        usageError("diff takes two clone files A and B");
        return kTrouble;
    }
    Side sides[2];
    std::string error;
    for (int s = 0; s < 2; ++s) {
        sides[s].file = args.operands[static_cast<std::size_t>(s)];
        if (!openChecked(args, sides[s].file, sides[s].fd, sides[s].info, error)) {
            failure(error);
            return kTrouble;
        }
    }
    Side& a = sides[0];
    Side& b = sides[1];

    // A's text members keep their line hashes (within a budget); B's are compared as they pass.
    std::vector<std::uint64_t> linesOfA;
    IndexWants wantsA;
    wantsA.sha256 = true;
    wantsA.lineHashes = true;
    wantsA.hashPool = &linesOfA;
    if (!indexArchive(a.fd.get(), a.info, wantsA, a.index, error)) {
        failure(printable(a.file) + ": " + error);
        return kTrouble;
    }
    std::map<std::string, std::pair<bool, LineChanges>> counts;
    IndexWants wantsB;
    wantsB.sha256 = true;
    wantsB.lineHashes = true;
    wantsB.each = [&](const MemberFacts& m, std::vector<std::uint64_t>* hashes, const std::string*, std::string&) {
        const MemberFacts* old = a.index.find(m.relative);
        counts.erase(m.relative);
        if (old != nullptr && old->type == '0' && m.type == '0' && old->sha256 != m.sha256 && hashes != nullptr &&
            old->hashed) {
            const auto from = linesOfA.begin() + old->hashesAt;
            counts[m.relative] = {true, countLineChanges({from, from + old->hashCount}, *hashes)};
        }
        return true;
    };
    if (!indexArchive(b.fd.get(), b.info, wantsB, b.index, error)) {
        failure(printable(b.file) + ": " + error);
        return kTrouble;
    }
    linesOfA = std::vector<std::uint64_t>();
    for (Side* side : {&a, &b}) {
        std::string verdict;
        if (!args.key.empty() && !checkManifest(side->index.manifestName, side->index.manifest, verdict, error)) {
            failure(printable(side->file) + ": verification failed: " + printable(error));
            return kTrouble;
        }
        if (!side->index.manifestName.empty() && !parseManifest(side->index.manifest, side->elements, side->manifestError)) {
            side->elements.clear();
        }
    }

    Comparison c;
    if (a.info.cloneType != b.info.cloneType) {
        c.header.push_back({"cloneType", "clone type", a.info.cloneType, b.info.cloneType});
    }
    if (a.info.name != b.info.name) {
        c.header.push_back({"name", "name", a.info.name, b.info.name});
    }
    if (a.index.manifestName != b.index.manifestName) {
        c.header.push_back({"manifest", "manifest", a.index.manifestName, b.index.manifestName});
    }
    compareElements(a, b, c);
    compareMembers(a, b, c);
    for (MemberChange& m : c.members) {
        if (!textChange(m)) {
            continue;
        }
        const auto count = counts.find(m.a->relative);
        if (count != counts.end()) {
            m.counted = true;
            m.lines = count->second.second;
        }
    }

    if (args.content) {
        std::map<std::string, std::string> textA;
        std::map<std::string, std::string> textB;
        std::map<std::string, std::string*> wantA;
        std::map<std::string, std::string*> wantB;
        // Changed text members, and added or removed ones (shown against nothing).
        for (MemberChange& m : c.members) {
            const bool both = m.a != nullptr && m.b != nullptr;
            if (both ? m.a->type != '0' || m.b->type != '0' || m.a->sha256 == m.b->sha256
                     : (m.a != nullptr ? m.a : m.b)->type != '0') {
                continue;
            }
            if ((m.a != nullptr && !m.a->text) || (m.b != nullptr && !m.b->text)) {
                m.omitted = "binary";
            } else if ((m.a != nullptr && m.a->size > kMaxContentMember) ||
                       (m.b != nullptr && m.b->size > kMaxContentMember)) {
                m.omitted = "too large";
            } else {
                if (m.a != nullptr) {
                    wantA[m.a->relative] = &textA[m.a->relative];
                }
                if (m.b != nullptr) {
                    wantB[m.b->relative] = &textB[m.b->relative];
                }
            }
        }
        if ((!wantA.empty() && !collectContent(a, wantA, error)) || (!wantB.empty() && !collectContent(b, wantB, error))) {
            failure(error);
            return kTrouble;
        }
        for (MemberChange& m : c.members) {
            const bool inA = m.a != nullptr && wantA.count(m.a->relative) != 0;
            const bool inB = m.b != nullptr && wantB.count(m.b->relative) != 0;
            if ((!inA && !inB) || !unifiedDiff(inA ? textA[m.a->relative] : "", inB ? textB[m.b->relative] : "",
                                               inA ? "a/" + m.a->relative : "/dev/null",
                                               inB ? "b/" + m.b->relative : "/dev/null", m.diff)) {
                m.omitted = inA || inB ? "too many changes" : m.omitted;
            }
        }
    }

    Output out;
    args.json ? writeJson(a, b, c, !args.key.empty(), args.content, out) : writeHuman(a, b, c, args.content, out);
    if (!out.finish()) {
        failure("cannot write to the standard output");
        return kTrouble;
    }
    return c.same() ? kSame : kDifferent;
}

}  // namespace clonetool
