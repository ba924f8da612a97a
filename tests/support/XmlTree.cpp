#include "XmlTree.h"

#include <algorithm>
#include <unistd.h>
#include <utility>
#include <vector>

#include <libxml/parser.h>

#include "Handles.h"

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
        out += c == '\n' ? "\\n" : c == '\t' ? "\\t" : c == '\r' ? "\\r" : std::string(1, c);
    }
    return out;
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
            cloneutil::XmlChar value(xmlNodeListGetString(node->doc, attr->children, 1));
            const bool prefixed = attr->ns != nullptr && attr->ns->prefix != nullptr;
            attributes.emplace_back((prefixed ? text(attr->ns->prefix) + ":" : "") + text(attr->name),
                                    text(value.get()));
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
        out += line + (content.empty() ? "" : ": " + oneLine(content)) + "\n";
        renderNode(node->children, depth + 1, out);
    }
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
    if (::access(path.c_str(), F_OK) != 0) {
        return "<missing>";
    }
    const int options = XML_PARSE_NOBLANKS | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NONET;
    const cloneutil::XmlDoc doc(xmlReadFile(path.c_str(), nullptr, options));
    return doc ? xmlOutline(doc.get()) : "<unparseable>";
}

}  // namespace clonetest
