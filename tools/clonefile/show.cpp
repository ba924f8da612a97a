// clonefile show: what a clone file holds, in words (or JSON): its header, whether it verifies,
// the manifest's elements with what each names, the certificates, and the members no element names.
#include <ctime>
#include <map>

#include "clone_schema.h"
#include "clonefile_common.h"
#include "commands.h"
#include "contents.h"

namespace clonetool {

namespace {

// What a manifest element names in the archive.
struct Holding {
    enum Kind { None, Folder, Text, Binary, LinkList, Link, Missing } kind = None;
    std::string path;
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
    std::uint64_t lines = 0;
    std::string target;            // of a link
    bool listRead = false;         // a link list small enough to be read
    std::vector<LinkEntry> links;  // of a link list
    std::vector<std::string> linkMembers;  // the member holding each link's certificate, or ""
};

struct CertificateFile {
    // cppcheck-suppress unusedStructMember ; read as file.second.certificates
    std::vector<Certificate> certificates;
    // cppcheck-suppress unusedStructMember ; read as file.second.namedBy
    std::vector<std::string> namedBy;  // "element: friendly name"
};

struct Summary {
    std::string file;
    clonefmt::CloneFileInfo info;
    bool keyGiven = false;
    std::string schema;  // "valid", "invalid", "empty", "absent"
    std::string schemaError;
    std::string manifestError;  // the manifest cannot be parsed
    ArchiveIndex index;
    std::vector<Element> elements;
    std::vector<Holding> holdings;  // one per element
    std::map<std::string, CertificateFile> certificates;
    std::uint64_t certificatesNotListed = 0;
    std::vector<const MemberFacts*> unnamed;
    std::uint64_t unnamedNotListed = 0;
    std::uint64_t expired = 0, expiring = 0, notYetValid = 0, missing = 0;

    // As verify judges it: a manifest that is there must validate.
    bool verified() const { return keyGiven && schema != "invalid"; }
};

bool isLinkListName(const std::string& relative)
{
    return relative.size() > 3 && relative.compare(relative.size() - 3, 3, ".ln") == 0;
}

// Fills the holding of each element that names a path, and marks what the elements name.
void resolve(Summary& s, const std::map<std::string, std::string>& linkLists, std::vector<char>& named)
{
    named.assign(s.index.members.size(), 0);
    const auto mark = [&s, &named](const MemberFacts* m) { named[static_cast<std::size_t>(m - s.index.members.data())] = 1; };
    s.holdings.resize(s.elements.size());
    for (std::size_t i = 0; i < s.elements.size(); ++i) {
        const std::string path = namedPath(s.elements[i]);
        if (path.empty()) {
            continue;
        }
        Holding& h = s.holdings[i];
        h.path = path;
        std::string folder = path;
        while (!folder.empty() && folder.back() == '/') {
            folder.pop_back();
        }
        const MemberFacts* m = s.index.find(folder);
        const auto range = s.index.below(folder);
        if (path.back() == '/' || (m != nullptr && m->type == '5') || (m == nullptr && range.first != range.second)) {
            h.kind = m == nullptr && range.first == range.second ? Holding::Missing : Holding::Folder;
            for (auto it = range.first; it != range.second; ++it) {
                mark(&*it);
                h.files += it->type == '0' || it->type == '1';
                h.bytes += it->type == '0' ? it->size : 0;
            }
            if (m != nullptr) {
                mark(m);
            }
        } else if (m == nullptr) {
            h.kind = Holding::Missing;
        } else {
            mark(m);
            h.bytes = m->size;
            h.lines = m->lines;
            h.target = m->target;
            if (m->type == '1' || m->type == '2') {
                h.kind = Holding::Link;
            } else if (m->type == '0' && m->text && isLinkListName(m->relative)) {
                h.kind = Holding::LinkList;
                const auto list = linkLists.find(m->relative);
                h.listRead = list != linkLists.end();
                if (h.listRead) {
                    h.links = parseLinkList(list->second);
                }
            } else {
                h.kind = m->text ? Holding::Text : Holding::Binary;
            }
        }
        s.missing += h.kind == Holding::Missing;
        for (const LinkEntry& link : h.links) {
            std::string member = memberOfDeviceCertificate(link.target);
            const MemberFacts* carried = member.empty() ? nullptr : s.index.find(member);
            if (carried == nullptr) {
                member.clear();
            } else {
                mark(carried);
                const auto cert = s.certificates.find(member);
                if (cert != s.certificates.end()) {
                    cert->second.namedBy.push_back(s.elements[i].name + ": " + link.name);
                }
            }
            h.linkMembers.push_back(member);
        }
    }
}

std::string plural(std::uint64_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string holdingText(const Holding& h)
{
    switch (h.kind) {
    case Holding::Folder:
        return "folder, " + plural(h.files, "file", "files") + ", " + plural(h.bytes, "byte", "bytes");
    case Holding::Text:
        return h.bytes == 0 ? "empty" : "text, " + plural(h.lines, "line", "lines") + ", " + plural(h.bytes, "byte", "bytes");
    case Holding::Binary:
        return "binary, " + plural(h.bytes, "byte", "bytes");
    case Holding::LinkList:
        return h.listRead ? "link list, " + plural(h.links.size(), "link", "links")
                          : "link list, " + plural(h.bytes, "byte", "bytes") + ", too large to read";
    case Holding::Link:
        return "link to " + printable(h.target);
    case Holding::Missing:
        return "MISSING: not in the archive";
    case Holding::None:
        break;
    }
    return "";
}

std::string certificateMark(const Certificate& c)
{
    if (c.status == "expired") {
        return "EXPIRED";
    }
    if (c.status == "expiring") {
        return "EXPIRES IN " + plural(static_cast<std::uint64_t>(c.daysLeft), "DAY", "DAYS");
    }
    if (c.status == "notYetValid") {
        return "NOT YET VALID";
    }
    return c.status == "unreadable" ? "VALIDITY UNREADABLE" : "";
}

void writeHuman(const Summary& s, Output& out)
{
    const clonefmt::CloneFileInfo& info = s.info;
    out << "clone file   " << printable(s.file) << " (" << plural(info.fileSize, "byte", "bytes") << ")\n";
    out << "clone type   " << info.cloneType << "\nname         " << info.name << "\n";
    out << "archive      " << plural(info.archiveSize, "byte", "bytes") << ": "
        << plural(s.index.files, "file", "files") << ", " << plural(s.index.bytes, "byte", "bytes") << " unpacked\n";
    out << "key id       " << clonefmt::hex(info.keyId.data(), info.keyId.size()) << "\n";
    out << "signature    " << (s.keyGiven ? "valid" : "not checked (no --key)") << "\n";
    out << "manifest     ";
    if (s.schema == "absent") {
        out << "none in the archive\n";
    } else {
        out << printable(s.index.manifestName) << ", "
            << (s.schema == "valid"   ? "valid against its schema"
                : s.schema == "empty" ? "empty (every element pruned)"
                                      : "INVALID: " + printable(s.schemaError))
            << "\n";
    }
    std::vector<std::string> attention;
    if (s.expired > 0) {
        attention.push_back(plural(s.expired, "certificate", "certificates") + " expired");
    }
    if (s.expiring > 0) {
        attention.push_back(plural(s.expiring, "certificate", "certificates") + " expiring within " +
                            std::to_string(kExpiringDays) + " days");
    }
    if (s.notYetValid > 0) {
        attention.push_back(plural(s.notYetValid, "certificate", "certificates") + " not yet valid");
    }
    if (s.missing > 0) {
        attention.push_back(plural(s.missing, "element names", "elements name") + " what the archive lacks");
    }
    if (!s.manifestError.empty()) {
        attention.push_back("the manifest cannot be read: " + printable(s.manifestError));
    }
    out << "attention    ";
    if (attention.empty()) {
        out << "nothing expired or missing\n";
    }
    for (std::size_t i = 0; i < attention.size(); ++i) {
        out << (i > 0 ? "             " : "") << attention[i] << "\n";
    }

    if (!s.elements.empty()) {
        out << "\n";
    }
    for (std::size_t i = 0; i < s.elements.size(); ++i) {
        const Element& e = s.elements[i];
        const Holding& h = s.holdings[i];
        const std::string indent(std::size_t{2} * e.depth, ' ');
        out << indent << printable(e.name);
        for (const auto& a : e.attributes) {
            out << " " << printable(a.first) << "=\"" << printable(a.second) << "\"";
        }
        if (e.leaf && !e.text.empty()) {
            out << ": " << printable(e.text);
        }
        if (h.kind != Holding::None) {
            out << "  (" << holdingText(h) << ")";
        }
        out << "\n";
        for (std::size_t k = 0; k < h.links.size(); ++k) {
            const LinkEntry& link = h.links[k];
            out << indent << "  " << printable(link.name) << arrow() << printable(link.target) << "  ("
                << (h.linkMembers[k].empty() ? std::string("certificate not in this clone file") : printable(h.linkMembers[k]))
                << ")\n";
        }
    }

    std::uint64_t count = 0;
    for (const auto& file : s.certificates) {
        count += file.second.certificates.size();
    }
    if (count > 0) {
        out << "\ncertificates (" << count + s.certificatesNotListed << ")\n";
    }
    for (const auto& file : s.certificates) {
        for (const Certificate& c : file.second.certificates) {
            const std::string mark = certificateMark(c);
            out << "  " << printable(file.first) << (mark.empty() ? "" : "  " + mark) << "\n";
            out << "    subject  " << printable(c.subject) << "\n";
            out << "    issuer   " << printable(c.issuer) << "\n";
            out << "    valid    " << c.notBefore << " to " << c.notAfter << ", "
                << (c.daysLeft >= 0 ? plural(static_cast<std::uint64_t>(c.daysLeft), "day", "days") + " left"
                                    : "ended " + plural(static_cast<std::uint64_t>(-c.daysLeft), "day", "days") + " ago")
                << "\n";
            for (const std::string& by : file.second.namedBy) {
                out << "    named by " << printable(by) << "\n";
            }
        }
    }
    if (s.certificatesNotListed > 0) {
        out << "  ... and " << s.certificatesNotListed << " more\n";
    }

    if (!s.unnamed.empty()) {
        out << "\nnot named by the manifest (" << s.unnamed.size() + s.unnamedNotListed << ")\n";
    }
    for (const MemberFacts* m : s.unnamed) {
        out << "  " << printable(m->relative) << "  (" << typeName(m->type);
        if (m->type == '0') {
            out << ", " << plural(m->size, "byte", "bytes");
        } else if (!m->target.empty()) {
            out << " to " << printable(m->target);
        }
        out << ")\n";
    }
    if (s.unnamedNotListed > 0) {
        out << "  ... and " << s.unnamedNotListed << " more\n";
    }
}

void writeJson(const Summary& s, Output& out)
{
    const clonefmt::CloneFileInfo& info = s.info;
    Json j(out);
    j.begin('{');
    j.field("file", s.file);
    j.field("formatVersion", info.version);
    j.field("cloneType", info.cloneType);
    j.field("name", info.name);
    j.field("keyId", clonefmt::hex(info.keyId.data(), info.keyId.size()));
    j.field("fileSize", info.fileSize);
    j.field("archiveSize", info.archiveSize);
    j.field("signature", s.keyGiven ? "valid" : "notChecked");
    j.key("manifest").begin('{');
    j.key("member");
    s.index.manifestName.empty() ? j.null() : j.string(s.index.manifestName);
    j.field("schema", s.schema);
    if (!s.schemaError.empty()) {
        j.field("error", s.schemaError);
    }
    j.end();
    j.key("verified").boolean(s.verified());
    j.field("members", s.index.members.size());
    j.field("files", s.index.files);
    j.field("bytes", s.index.bytes);
    j.key("attention").begin('{');
    j.field("expired", s.expired).field("expiring", s.expiring).field("notYetValid", s.notYetValid);
    j.field("missing", s.missing);
    j.key("manifestUnreadable").boolean(!s.manifestError.empty());
    j.end();

    j.key("elements").begin('[');
    for (std::size_t i = 0; i < s.elements.size(); ++i) {
        const Element& e = s.elements[i];
        const Holding& h = s.holdings[i];
        j.begin('{');
        j.field("path", e.path).field("name", e.name).field("depth", e.depth);
        j.key("attributes").begin('{');
        for (const auto& a : e.attributes) {
            j.field(a.first.c_str(), a.second);
        }
        j.end();
        j.key("text");
        e.leaf ? j.string(e.text) : j.null();
        j.key("holds");
        if (h.kind == Holding::None) {
            j.null();
        } else {
            static const char* const kKinds[] = {"", "folder", "text", "binary", "linkList", "link", "missing"};
            j.begin('{').field("kind", kKinds[h.kind]);
            if (h.kind == Holding::Folder) {
                j.field("files", h.files);
            }
            if (h.kind != Holding::Missing && h.kind != Holding::Link) {
                j.field("bytes", h.bytes);
            }
            if (h.kind == Holding::Text) {
                j.field("lines", h.lines);
            }
            if (h.kind == Holding::Link) {
                j.field("target", h.target);
            }
            if (h.kind == Holding::LinkList) {
                j.key("links");
                if (!h.listRead) {
                    j.null();
                } else {
                    j.begin('[');
                    for (std::size_t k = 0; k < h.links.size(); ++k) {
                        j.begin('{').field("name", h.links[k].name).field("link", h.links[k].link);
                        j.field("target", h.links[k].target).key("member");
                        h.linkMembers[k].empty() ? j.null() : j.string(h.linkMembers[k]);
                        j.end();
                    }
                    j.end();
                }
            }
            j.end();
        }
        j.end();
    }
    j.end();

    j.key("certificates").begin('[');
    for (const auto& file : s.certificates) {
        for (const Certificate& c : file.second.certificates) {
            j.begin('{').field("member", file.first).field("subject", c.subject).field("issuer", c.issuer);
            j.field("notBefore", c.notBefore).field("notAfter", c.notAfter);
            j.key("daysLeft").signedNumber(c.daysLeft);
            j.field("status", c.status);
            j.key("namedBy").begin('[');
            for (const std::string& by : file.second.namedBy) {
                j.string(by);
            }
            j.end().end();
        }
    }
    j.end();
    j.field("certificatesNotListed", s.certificatesNotListed);
    j.key("unnamed").begin('[');
    for (const MemberFacts* m : s.unnamed) {
        j.begin('{').field("name", m->relative).field("type", typeName(m->type)).field("size", m->size);
        if (m->type == '1' || m->type == '2') {
            j.field("target", m->target);
        }
        j.end();
    }
    j.end();
    j.field("unnamedNotListed", s.unnamedNotListed);
    j.end();
}

}  // namespace

int cmdShow(const Args& args)
{
    if (args.operands.size() != 1) {
        return usageError("show takes one FILE");
    }
    Summary s;
    s.file = args.operands[0];
    s.keyGiven = !args.key.empty();
    std::string error;
    clonefmt::UniqueFd fd;
    if (!openChecked(args, s.file, fd, s.info, error)) {
        return failure(error);
    }
    const std::time_t now = std::time(nullptr);
    std::map<std::string, std::string> linkLists;
    std::uint64_t certificates = 0;
    IndexWants wants;
    wants.keep = [](const MemberFacts&) { return true; };
    wants.each = [&](const MemberFacts& m, std::vector<std::uint64_t>*, const std::string* data, std::string&) {
        if (data == nullptr || !m.text) {
            return true;
        }
        if (isLinkListName(m.relative)) {
            linkLists[m.relative] = *data;
        } else if (holdsPemCertificate(*data)) {
            std::vector<Certificate> found = pemCertificates(*data, now);
            if (certificates + found.size() > kMaxCertificates) {
                s.certificatesNotListed += found.size();
            } else if (!found.empty()) {
                certificates += found.size();
                s.certificates[m.relative].certificates = std::move(found);
            }
        }
        return true;
    };
    if (!indexArchive(fd.get(), s.info, wants, s.index, error)) {
        return failure(printable(s.file) + ": " + error);
    }
    if (s.index.manifestName.empty()) {
        s.schema = "absent";
    } else if (clonefmt::emptyManifest(s.index.manifest)) {
        s.schema = "empty";
    } else {
        const std::string root = s.index.manifestName.substr(0, s.index.manifestName.size() - 4);
        s.schema = clonefmt::validateManifest(s.index.manifest, schemaDir(), root, s.schemaError) ? "valid" : "invalid";
        if (!parseManifest(s.index.manifest, s.elements, s.manifestError)) {
            s.elements.clear();
        }
    }
    std::vector<char> named;
    resolve(s, linkLists, named);
    for (const auto& file : s.certificates) {
        for (const Certificate& c : file.second.certificates) {
            s.expired += c.status == "expired";
            s.expiring += c.status == "expiring";
            s.notYetValid += c.status == "notYetValid";
        }
    }
    for (std::size_t i = 0; i < s.index.members.size(); ++i) {
        const MemberFacts& m = s.index.members[i];
        if (m.type == '5' || m.relative == s.index.manifestName || named[i] != 0) {
            continue;
        }
        if (s.unnamed.size() < kMaxUnnamedListed) {
            s.unnamed.push_back(&m);
        } else {
            ++s.unnamedNotListed;
        }
    }
    Output out;
    args.json ? writeJson(s, out) : writeHuman(s, out);
    if (!out.finish()) {
        return failure("cannot write to the standard output");
    }
    if (s.keyGiven && !s.verified()) {
        return failure(printable(s.file) + ": verification failed: manifest " + printable(s.index.manifestName) + ": " +
                       printable(s.schemaError.empty() ? "none in the archive" : s.schemaError));
    }
    return kOk;
}

}  // namespace clonetool
