#include "XmlTree.h"

#include <algorithm>
#include <memory>
#include <sys/stat.h>
#include <utility>
#include <vector>

#include <libxml/parser.h>

namespace clonetest {

namespace {

std::string text(const xmlChar* s)
{
    return s != nullptr ? reinterpret_cast<const char*>(s) : "";
}

// Line breaks and tabs of a text are shown escaped, so one node stays one line.
std::string oneLine(const std::string& in)
{
    std::string out;
    for (char c : in) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += c;
        }
    }
    return out;
}

std::string qualified(const xmlNs* ns, const xmlChar* name)
{
    if (ns != nullptr && ns->prefix != nullptr) {
        return text(ns->prefix) + ":" + text(name);
    }
    return text(name);
}

void renderNode(const xmlNode* node, int depth, std::string& out)
{
    for (; node != nullptr; node = node->next) {
        const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
        if (node->type == XML_COMMENT_NODE) {
            out += indent + "#comment: " + oneLine(text(node->content)) + "\n";
            continue;
        }
        if (node->type != XML_ELEMENT_NODE) {
            continue;
        }
        std::vector<std::pair<std::string, std::string>> attributes;
        for (const xmlNs* ns = node->nsDef; ns != nullptr; ns = ns->next) {
            attributes.emplace_back(ns->prefix != nullptr ? "xmlns:" + text(ns->prefix) : "xmlns", text(ns->href));
        }
        for (const xmlAttr* attr = node->properties; attr != nullptr; attr = attr->next) {
            std::unique_ptr<xmlChar, void (*)(void*)> value(xmlNodeListGetString(node->doc, attr->children, 1),
                                                            [](void* p) { xmlFree(p); });
            attributes.emplace_back(qualified(attr->ns, attr->name), text(value.get()));
        }
        std::sort(attributes.begin(), attributes.end());
        std::string line = indent + text(node->name);
        for (const auto& attribute : attributes) {
            line += "[" + attribute.first + "=" + attribute.second + "]";
        }
        std::string content;
        for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
            if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) {
                content += text(child->content);
            }
        }
        if (!content.empty()) {
            line += ": " + oneLine(content);
        }
        out += line + "\n";
        renderNode(node->children, depth + 1, out);
    }
}

void collectNames(const xmlNode* node, std::string& out)
{
    for (; node != nullptr; node = node->next) {
        if (node->type == XML_ELEMENT_NODE) {
            out += text(node->name) + "\n";
            collectNames(node->children, out);
        }
    }
}

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

std::unique_ptr<xmlDoc, DocFree> parse(const std::string& path)
{
    xmlKeepBlanksDefault(0);
    const int options = XML_PARSE_NOBLANKS | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NONET;
    return std::unique_ptr<xmlDoc, DocFree>(xmlReadFile(path.c_str(), nullptr, options));
}

bool fileExists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

std::string xmlOutline(const xmlDoc* doc)
{
    std::string out;
    if (doc != nullptr) {
        renderNode(doc->children, 0, out);
    }
    return out;
}

std::string xmlFileOutline(const std::string& path)
{
    if (!fileExists(path)) {
        return "<missing>";
    }
    const auto doc = parse(path);
    return doc ? xmlOutline(doc.get()) : "<unparseable>";
}

std::string elementNames(const std::string& path)
{
    std::string out;
    const auto doc = parse(path);
    if (doc) {
        collectNames(doc->children, out);
    }
    return out;
}

}  // namespace clonetest
