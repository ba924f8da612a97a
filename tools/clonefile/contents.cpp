#include "contents.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <memory>

#include <libxml/parser.h>
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "clone_member.h"
#include "clone_schema.h"
#include "clonefile_common.h"

namespace clonetool {

namespace {


constexpr std::uint64_t kFnvOffset = 1469598103934665603ull;
constexpr std::uint64_t kFnvPrime = 1099511628211ull;

// The device's certificate store, where the link lists' links are.
constexpr char kCertificateStore[] = "/xpaths/nc_var_etc/ssl/certstore/";

// The device folders whose certificate files the captures copy, and where they land in the
// export tree (the IPsec trust anchors and the domain certificates).
const std::pair<const char*, const char*> kCertificateFolders[] = {
    {"/xpaths/nc_var_etc/ssl/trusted/", "data/ipSec/trusted/"},
    {"/xpaths/nc_var_etc/ssl/domain/", "data/domainCertificates/"},
};

// Hashes lines as their bytes stream past: FNV-1a over each line with its line end.
class LineHasher {
public:
    void feed(const char* data, std::size_t size, std::vector<std::uint64_t>& out)
    {
        for (std::size_t i = 0; i < size; ++i) {
            hash_ = (hash_ ^ static_cast<unsigned char>(data[i])) * kFnvPrime;
            open_ = true;
            if (data[i] == '\n') {
                out.push_back(hash_);
                hash_ = kFnvOffset;
                open_ = false;
            }
        }
    }
    void finish(std::vector<std::uint64_t>& out)
    {
        if (open_) {
            out.push_back(hash_);
        }
        hash_ = kFnvOffset;
        open_ = false;
    }

private:
    std::uint64_t hash_ = kFnvOffset;
    bool open_ = false;
};

std::string trimmed(const std::string& text)
{
    const std::size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string::npos) {
        return "";
    }
    return text.substr(start, text.find_last_not_of(" \t\r\n") - start + 1);
}

// NOLINTNEXTLINE(misc-no-recursion): the manifest is read without XML_PARSE_HUGE, so at most 256 levels deep
void collect(const xmlNode* node, const std::string& parentPath, unsigned depth, std::vector<Element>& out)
{
    std::vector<std::pair<std::string, unsigned>> seen;  // sibling names and how often they came
    for (const xmlNode* child = node; child != nullptr; child = child->next) {
        if (child->type != XML_ELEMENT_NODE) {
            continue;
        }
        Element e;
        e.name = reinterpret_cast<const char*>(child->name);
        auto it = std::find_if(seen.begin(), seen.end(), [&e](const auto& s) { return s.first == e.name; });
        const unsigned occurrence = it == seen.end() ? (seen.emplace_back(e.name, 1), 1u) : ++it->second;
        e.path = (parentPath.empty() ? "" : parentPath + "/") + e.name +
                 (occurrence > 1 ? "[" + std::to_string(occurrence) + "]" : "");
        e.depth = depth;
        // Attributes of other namespaces (xsi:schemaLocation) are the schema machinery's, not content.
        for (const xmlAttr* a = child->properties; a != nullptr; a = a->next) {
            if (a->ns != nullptr) {
                continue;
            }
            xmlChar* value = xmlNodeListGetString(child->doc, a->children, 1);
            e.attributes.emplace_back(reinterpret_cast<const char*>(a->name),
                                      value != nullptr ? reinterpret_cast<const char*>(value) : "");
            xmlFree(value);
        }
        for (const xmlNode* c = child->children; c != nullptr; c = c->next) {
            if (c->type == XML_ELEMENT_NODE) {
                e.leaf = false;
            }
        }
        if (e.leaf) {
            xmlChar* text = xmlNodeGetContent(child);
            e.text = trimmed(text != nullptr ? reinterpret_cast<const char*>(text) : "");
            xmlFree(text);
        }
        const std::string path = e.path;
        const bool leaf = e.leaf;
        out.push_back(std::move(e));
        if (!leaf) {
            collect(child->children, path, depth + 1, out);
        }
    }
}

struct BioFree {
    void operator()(BIO* b) const { BIO_free(b); }
};
struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
struct Asn1TimeFree {
    void operator()(ASN1_TIME* t) const { ASN1_TIME_free(t); }
};

std::string nameText(const X509_NAME* name)
{
    std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    // RFC 2253 form with UTF-8 kept as it is; control characters are escaped when shown.
    if (!bio || X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0) {
        return "";
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : "";
}

std::string timeText(const ASN1_TIME* t)
{
    struct tm tm {};
    if (t == nullptr || ASN1_TIME_to_tm(t, &tm) != 1) {
        return "";
    }
    char buf[32];
    (void)std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);  // 20 characters
    return buf;
}

// Whole days from NOW to T (rounded toward the past), or false when T cannot be read.
bool daysUntil(const ASN1_TIME* t, std::time_t now, std::int64_t& days)
{
    std::unique_ptr<ASN1_TIME, Asn1TimeFree> from(ASN1_TIME_set(nullptr, now));
    int d = 0;
    int s = 0;
    if (!from || t == nullptr || ASN1_TIME_diff(&d, &s, from.get(), t) != 1) {
        return false;
    }
    days = d - (s < 0 ? 1 : 0);
    return true;
}

// Lines of TEXT, each with its line end (the last one may have none).
std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        const std::size_t stop = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, stop - start));
        start = stop;
    }
    return lines;
}

// The shortest edit from A to B (Myers), as '=', '-' and '+' steps, or false when it needs more
// than MAXEDITS insertions and deletions.
bool editScript(const std::vector<std::uint64_t>& a, const std::vector<std::uint64_t>& b, long maxEdits,
                std::vector<char>& script)
{
    const long n = static_cast<long>(a.size());
    const long m = static_cast<long>(b.size());
    const long max = std::min(n + m, maxEdits);
    std::vector<long> v(static_cast<std::size_t>(2 * max + 3), 0);
    const long offset = max + 1;
    std::vector<std::vector<long>> trace;  // V before each round, over the diagonals it reads
    long found = -1;
    for (long d = 0; d <= max && found < 0; ++d) {
        trace.emplace_back(v.begin() + (offset - d - 1), v.begin() + (offset + d + 2));
        for (long k = -d; k <= d; k += 2) {
            long x = (k == -d || (k != d && v[offset + k - 1] < v[offset + k + 1])) ? v[offset + k + 1]
                                                                                   : v[offset + k - 1] + 1;
            long y = x - k;
            while (x < n && y < m && a[static_cast<std::size_t>(x)] == b[static_cast<std::size_t>(y)]) {
                ++x, ++y;
            }
            v[offset + k] = x;
            if (x >= n && y >= m) {
                found = d;
                break;
            }
        }
    }
    if (found < 0) {
        return false;
    }
    script.clear();
    long x = n;
    long y = m;
    for (long d = found; d >= 0; --d) {
        const std::vector<long>& prev = trace[static_cast<std::size_t>(d)];
        const auto at = [&prev, d](long k) { return prev[static_cast<std::size_t>(k + d + 1)]; };
        const long k = x - y;
        const long prevK = (k == -d || (k != d && at(k - 1) < at(k + 1))) ? k + 1 : k - 1;
        const long prevX = d == 0 ? 0 : at(prevK);
        const long prevY = d == 0 ? 0 : prevX - prevK;
        while (x > prevX && y > prevY) {
            script.push_back('=');
            --x, --y;
        }
        if (d > 0) {
            script.push_back(x == prevX ? '+' : '-');
        }
        x = prevX;
        y = prevY;
    }
    std::reverse(script.begin(), script.end());
    return true;
}

}  // namespace

const char* typeName(char type)
{
    switch (type) {
    case '0':
    case '\0':
    case '7':
        return "file";
    case '1':
        return "hardlink";
    case '2':
        return "symlink";
    case '5':
        return "directory";
    default:
        return "other";
    }
}

const MemberFacts* ArchiveIndex::find(const std::string& relative) const
{
    const auto it = std::lower_bound(members.begin(), members.end(), relative,
                                     [](const MemberFacts& m, const std::string& r) { return m.relative < r; });
    return it != members.end() && it->relative == relative ? &*it : nullptr;
}

std::pair<std::vector<MemberFacts>::const_iterator, std::vector<MemberFacts>::const_iterator> ArchiveIndex::below(
    const std::string& folder) const
{
    const std::string prefix = folder.empty() ? "" : folder + "/";
    const auto first = std::lower_bound(members.begin(), members.end(), prefix,
                                        [](const MemberFacts& m, const std::string& p) { return m.relative < p; });
    auto last = first;
    while (last != members.end() && last->relative.compare(0, prefix.size(), prefix) == 0) {
        ++last;
    }
    return {first, last};
}

bool indexArchive(int fd, const clonefmt::CloneFileInfo& info, const IndexWants& wants, ArchiveIndex& index,
                  std::string& error)
{
    index = ArchiveIndex{};
    std::vector<std::uint64_t> hashes;
    std::string kept;
    auto visit = [&](const clonefmt::TarMember& m, clonefmt::MemberData& data, std::string& err) {
        MemberFacts f;
        if (!clonefmt::safeRelativePath(m.name, f.relative)) {
            f.relative = m.name;
        }
        f.type = m.isFile() ? '0' : m.type;
        f.mode = m.mode;
        f.size = m.size;
        f.target = m.linkName;
        hashes.clear();
        kept.clear();
        const bool manifest = index.manifestName.empty() && m.isFile() && isManifestName(f.relative);
        if (manifest && m.size > clonefmt::kMaxManifestBytes) {
            err = "manifest " + printable(f.relative) + " refused: larger than " +
                  std::to_string(clonefmt::kMaxManifestBytes) + " bytes";
            return false;
        }
        bool hashing = false;
        bool keeping = false;
        if (m.isFile()) {
            f.text = true;
            hashing = wants.lineHashes;
            keeping = (wants.keep && wants.keep(f) && m.size <= kMaxParsedMember) || manifest;
            Sha256 sha;
            if (wants.sha256 && !sha.ok()) {
                err = "out of memory";
                return false;
            }
            LineHasher hasher;
            char last = '\n';
            char buf[1 << 16];
            for (;;) {
                const long n = data.read(buf, sizeof buf);
                if (n < 0) {
                    err = "cannot read member " + printable(m.name);
                    return false;
                }
                if (n == 0) {
                    break;
                }
                const std::size_t size = static_cast<std::size_t>(n);
                last = buf[size - 1];
                if (wants.sha256) {
                    sha.update(buf, size);
                }
                if (f.text) {
                    const char* nul = static_cast<const char*>(std::memchr(buf, '\0', size));
                    const char* end = nul != nullptr ? nul : buf + size;
                    for (const char* p = buf; (p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)))) != nullptr; ++p) {
                        ++f.lines;
                    }
                    f.text = nul == nullptr;
                    hashing = hashing && f.text;
                }
                if (hashing) {
                    hasher.feed(buf, size, hashes);
                    hashing = hashes.size() <= kMaxLinesPerMember;
                }
                if (keeping) {
                    kept.append(buf, size);
                }
            }
            if (f.text && m.size > 0 && last != '\n') {
                ++f.lines;  // a last line without its line end
            }
            if (!f.text) {
                f.lines = 0;
            }
            if (hashing) {
                hasher.finish(hashes);
                if (wants.hashPool != nullptr && wants.hashPool->size() + hashes.size() <= kMaxLinesKept) {
                    f.hashed = true;
                    f.hashesAt = static_cast<std::uint32_t>(wants.hashPool->size());
                    f.hashCount = static_cast<std::uint32_t>(hashes.size());
                    wants.hashPool->insert(wants.hashPool->end(), hashes.begin(), hashes.end());
                }
            }
            if (wants.sha256 && !sha.finish(f.sha256)) {
                err = "cannot hash member " + printable(m.name);
                return false;
            }
            ++index.files;
            index.bytes += m.size;
        } else if (m.isHardLink()) {
            ++index.files;
        }
        if (manifest) {
            // Refused before any parser sees it, so no command expands it.
            if (!clonefmt::manifestShapeOk(kept, err)) {
                err = "manifest " + f.relative + " refused: " + err;
                return false;
            }
            index.manifestName = f.relative;
            index.manifest = kept;
        }
        if (wants.each && !wants.each(f, hashing ? &hashes : nullptr, keeping ? &kept : nullptr, err)) {
            return false;
        }
        index.members.push_back(std::move(f));
        return true;
    };
    if (!clonefmt::walkTarGz(fd, info.archiveOffset, info.archiveSize, visit, error)) {
        return false;
    }
    // By name; of a name that occurs twice, the later member (the one tar leaves on disk). Sorted
    // and thinned in place: a copy or std::stable_sort's buffer would double the peak.
    std::vector<MemberFacts>& all = index.members;
    for (std::size_t i = 0; i < all.size(); ++i) {
        all[i].occurrences = static_cast<std::uint32_t>(i);  // archive order, until counted below
    }
    std::sort(all.begin(), all.end(), [](const MemberFacts& a, const MemberFacts& b) {
        const int order = a.relative.compare(b.relative);
        return order != 0 ? order < 0 : a.occurrences < b.occurrences;
    });
    std::size_t unique = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (unique > 0 && all[unique - 1].relative == all[i].relative) {
            const std::uint32_t seen = all[unique - 1].occurrences;
            all[unique - 1] = std::move(all[i]);
            all[unique - 1].occurrences = seen + 1;
        } else {
            if (unique != i) {  // a string moved onto itself would be left empty
                all[unique] = std::move(all[i]);
            }
            all[unique++].occurrences = 1;
        }
    }
    all.resize(unique);
    return true;
}

bool parseManifest(const std::string& xml, std::vector<Element>& elements, std::string& error)
{
    elements.clear();
    std::string detail;
    const clonefmt::XmlDocument doc = clonefmt::readUntrustedXml(xml, detail);
    const xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    if (root == nullptr) {
        error = detail.compare(0, 8, "refused:") == 0 ? detail
                : "not well-formed XML" + (detail.empty() ? std::string() : ": " + detail);
        return false;
    }
    collect(root, "", 0, elements);
    return true;
}

std::string namedPath(const Element& e)
{
    return e.leaf && e.text.compare(0, 5, "data/") == 0 ? e.text : "";
}

std::vector<LinkEntry> parseLinkList(const std::string& text)
{
    std::vector<LinkEntry> entries;
    const std::size_t storeLength = sizeof kCertificateStore - 1;
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (text[pos] == '\n' || text[pos] == '\r') {
            ++pos;
            continue;
        }
        const std::size_t comma = text.find(',', pos);
        const std::size_t lineEnd = std::min(text.find('\n', pos), text.size());
        if (comma == std::string::npos || comma > lineEnd) {
            entries.push_back({"", "", text.substr(pos, lineEnd - pos)});  // no link: shown as it is
            pos = lineEnd;
            continue;
        }
        LinkEntry e;
        e.target = text.substr(pos, comma - pos);
        const std::size_t linkStart = comma + 1;
        std::size_t linkEnd = lineEnd;
        if (text.compare(linkStart, storeLength, kCertificateStore) == 0) {
            // A friendly name holds no slash: one after it begins the next entry's target.
            linkEnd = std::min(linkEnd, text.find('/', linkStart + storeLength));
        }
        e.link = text.substr(linkStart, linkEnd - linkStart);
        if (!e.link.empty() && e.link.back() == '\r') {
            e.link.pop_back();
        }
        e.name = e.link.substr(e.link.rfind('/') + 1);
        entries.push_back(std::move(e));
        pos = linkEnd;
    }
    return entries;
}

std::string memberOfDeviceCertificate(const std::string& target)
{
    for (const auto& folder : kCertificateFolders) {
        const std::size_t length = std::strlen(folder.first);
        if (target.size() > length && target.compare(0, length, folder.first) == 0 &&
            target.find('/', length) == std::string::npos) {
            return folder.second + target.substr(length);
        }
    }
    return "";
}

bool holdsPemCertificate(const std::string& data)
{
    return data.find("-----BEGIN CERTIFICATE-----") != std::string::npos ||
           data.find("-----BEGIN TRUSTED CERTIFICATE-----") != std::string::npos ||
           data.find("-----BEGIN X509 CERTIFICATE-----") != std::string::npos;
}

std::vector<Certificate> pemCertificates(const std::string& pem, std::time_t now)
{
    std::vector<Certificate> out;
    if (pem.size() > static_cast<std::size_t>(INT_MAX)) {
        return out;
    }
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    while (bio) {
        std::unique_ptr<X509, X509Free> cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
        if (!cert) {
            break;
        }
        Certificate c;
        c.subject = nameText(X509_get_subject_name(cert.get()));
        c.issuer = nameText(X509_get_issuer_name(cert.get()));
        const ASN1_TIME* notBefore = X509_get0_notBefore(cert.get());
        const ASN1_TIME* notAfter = X509_get0_notAfter(cert.get());
        c.notBefore = timeText(notBefore);
        c.notAfter = timeText(notAfter);
        std::int64_t untilStart = 0;
        const bool known = daysUntil(notAfter, now, c.daysLeft) && daysUntil(notBefore, now, untilStart);
        if (!known) {
            c.status = "unreadable";
        } else if (X509_cmp_time(notAfter, &now) <= 0) {
            c.status = "expired";
        } else if (X509_cmp_time(notBefore, &now) > 0) {
            c.status = "notYetValid";
        } else if (c.daysLeft < kExpiringDays) {
            c.status = "expiring";
        } else {
            c.status = "valid";
        }
        out.push_back(std::move(c));
    }
    // The loop ends at the first block it cannot read (or the end): that is not an error here.
    ERR_clear_error();
    return out;
}

std::vector<std::uint64_t> lineHashesOf(const std::string& text)
{
    std::vector<std::uint64_t> hashes;
    LineHasher hasher;
    hasher.feed(text.data(), text.size(), hashes);
    hasher.finish(hashes);
    return hashes;
}

LineChanges countLineChanges(const std::vector<std::uint64_t>& a, const std::vector<std::uint64_t>& b)
{
    // Only the part between the common start and the common end needs aligning.
    std::size_t start = 0;
    while (start < a.size() && start < b.size() && a[start] == b[start]) {
        ++start;
    }
    std::size_t endA = a.size();
    std::size_t endB = b.size();
    while (endA > start && endB > start && a[endA - 1] == b[endB - 1]) {
        --endA, --endB;
    }
    const long n = static_cast<long>(endA - start);
    const long m = static_cast<long>(endB - start);
    LineChanges c;
    if (n == 0 || m == 0) {
        c.added = static_cast<std::uint64_t>(m);
        c.removed = static_cast<std::uint64_t>(n);
        return c;
    }
    // Myers' forward search for the number of edits D; then D = added + removed and
    // m - n = added - removed. The work is bounded, so a huge rewrite falls back to counting.
    const long max = std::min<long>(n + m, static_cast<long>(kMaxAlignedEdits));
    std::vector<long> v(static_cast<std::size_t>(2 * max + 3), 0);
    const long offset = max + 1;
    long work = 0;
    const long maxWork = 400000000;
    for (long d = 0; d <= max && work < maxWork; ++d) {
        for (long k = -d; k <= d; k += 2) {
            long x = (k == -d || (k != d && v[offset + k - 1] < v[offset + k + 1])) ? v[offset + k + 1]
                                                                                   : v[offset + k - 1] + 1;
            long y = x - k;
            const long x0 = x;
            while (x < n && y < m && a[start + static_cast<std::size_t>(x)] == b[start + static_cast<std::size_t>(y)]) {
                ++x, ++y;
            }
            work += 1 + (x - x0);
            v[offset + k] = x;
            if (x >= n && y >= m) {
                c.added = static_cast<std::uint64_t>((d + (m - n)) / 2);
                c.removed = static_cast<std::uint64_t>((d - (m - n)) / 2);
                return c;
            }
        }
    }
    // Lines of one version that the other lacks (as many times as they occur), regardless of order.
    std::vector<std::uint64_t> sa(a.begin() + static_cast<long>(start), a.begin() + static_cast<long>(endA));
    std::vector<std::uint64_t> sb(b.begin() + static_cast<long>(start), b.begin() + static_cast<long>(endB));
    std::sort(sa.begin(), sa.end());
    std::sort(sb.begin(), sb.end());
    std::uint64_t common = 0;
    for (std::size_t i = 0, j = 0; i < sa.size() && j < sb.size();) {
        if (sa[i] == sb[j]) {
            ++common, ++i, ++j;
        } else if (sa[i] < sb[j]) {
            ++i;
        } else {
            ++j;
        }
    }
    c.added = sb.size() - common;
    c.removed = sa.size() - common;
    c.exact = false;
    return c;
}

bool unifiedDiff(const std::string& a, const std::string& b, const std::string& labelA, const std::string& labelB,
                 std::string& out)
{
    out.clear();
    const std::vector<std::string> la = splitLines(a);
    const std::vector<std::string> lb = splitLines(b);
    std::vector<char> script;
    // The trace grows with the square of the edits: 1,000 of them take about 8 MB.
    // Lines are matched by their text: each distinct line gets a number of its own.
    std::map<std::string, std::uint64_t> ids;
    const auto idsOf = [&ids](const std::vector<std::string>& lines) {
        std::vector<std::uint64_t> out;
        out.reserve(lines.size());
        for (const std::string& l : lines) {
            out.push_back(ids.emplace(l, ids.size()).first->second);
        }
        return out;
    };
    const std::vector<std::uint64_t> idsA = idsOf(la);
    if (!editScript(idsA, idsOf(lb), 1000, script)) {
        return false;
    }
    if (std::all_of(script.begin(), script.end(), [](char s) { return s == '='; })) {
        return true;
    }
    constexpr std::size_t kContext = 3;
    out = "--- " + printable(labelA) + "\n+++ " + printable(labelB) + "\n";
    const auto line = [](char mark, const std::string& text) {
        const bool ended = !text.empty() && text.back() == '\n';
        std::string shown = std::string(1, mark) + printable(ended ? text.substr(0, text.size() - 1) : text, true) + "\n";
        return ended ? shown : shown + "\\ No newline at end of file\n";
    };
    std::size_t pos = 0;  // the step that IA and IB count up to
    std::size_t ia = 0;
    std::size_t ib = 0;
    for (std::size_t k = 0; k < script.size();) {
        std::size_t change = k;
        while (change < script.size() && script[change] == '=') {
            ++change;
        }
        if (change == script.size()) {
            break;
        }
        // The hunk runs on while changes are no more than twice the context apart.
        std::size_t last = change;
        for (std::size_t j = change; j < script.size() && j - last <= 2 * kContext + 1; ++j) {
            if (script[j] != '=') {
                last = j;
            }
        }
        const std::size_t from = change - std::min(kContext, change - k);
        const std::size_t end = std::min(last + 1 + kContext, script.size());
        for (; pos < from; ++pos) {
            ia += script[pos] != '+';
            ib += script[pos] != '-';
        }
        std::size_t countA = 0;
        std::size_t countB = 0;
        for (std::size_t j = from; j < end; ++j) {
            countA += script[j] != '+';
            countB += script[j] != '-';
        }
        out += "@@ -" + std::to_string(countA > 0 ? ia + 1 : ia) + "," + std::to_string(countA) + " +" +
               std::to_string(countB > 0 ? ib + 1 : ib) + "," + std::to_string(countB) + " @@\n";
        for (; pos < end; ++pos) {
            if (script[pos] == '=') {
                out += line(' ', la[ia++]);
                ++ib;
            } else if (script[pos] == '-') {
                out += line('-', la[ia++]);
            } else {
                out += line('+', lb[ib++]);
            }
        }
        k = end;
    }
    return true;
}

}  // namespace clonetool
