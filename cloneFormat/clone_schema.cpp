#include "clone_schema.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include <libxml/parser.h>
#include <libxml/xmlschemas.h>

namespace clonefmt {

namespace {

struct ParserFree {
    void operator()(xmlSchemaParserCtxt* c) const { xmlSchemaFreeParserCtxt(c); }
};
struct SchemaFree {
    void operator()(xmlSchema* s) const { xmlSchemaFree(s); }
};
struct ValidFree {
    void operator()(xmlSchemaValidCtxt* c) const { xmlSchemaFreeValidCtxt(c); }
};

// Keeps the first message; libxml2 would print every one on stderr otherwise.
void firstError(void* context, xmlErrorPtr err)
{
    std::string& out = *static_cast<std::string*>(context);
    if (out.empty() && err != nullptr && err->message != nullptr) {
        out = err->message;
        while (!out.empty() && out.back() == '\n') {
            out.pop_back();
        }
        if (err->line > 0) {
            out = "line " + std::to_string(err->line) + ": " + out;
        }
    }
}

// Parser messages go to DETAIL while it lives (libxml2 2.9 has no per-context handler for them).
class ParserErrors {
public:
    explicit ParserErrors(std::string* detail) { xmlSetStructuredErrorFunc(detail, firstError); }
    ~ParserErrors() { xmlSetStructuredErrorFunc(nullptr, nullptr); }
    ParserErrors(const ParserErrors&) = delete;
    ParserErrors& operator=(const ParserErrors&) = delete;
};

// The reference at TEXT[AT] ('&') is a character reference or one of the five predefined entities:
// none of them expands into markup.
bool harmlessReference(const std::string& text, std::size_t at)
{
    if (text.compare(at, 2, "&#") == 0) {
        return true;
    }
    for (const char* name : {"&lt;", "&gt;", "&amp;", "&apos;", "&quot;"}) {
        if (text.compare(at, std::strlen(name), name) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool manifestShapeOk(const std::string& text, std::string& error)
{
    const auto refuse = [&error](const std::string& why) {
        error = why;
        return false;
    };
    if (text.size() > kMaxManifestBytes) {
        return refuse("larger than " + std::to_string(kMaxManifestBytes) + " bytes");
    }
    const auto badReference = [&text](std::size_t from, std::size_t to) {
        for (std::size_t amp = text.find('&', from); amp < to; amp = text.find('&', amp + 1)) {
            if (!harmlessReference(text, amp)) {
                return true;
            }
        }
        return false;
    };
    const std::string refusedReference = "an entity reference (a clone file's manifest never declares entities)";
    std::size_t elements = 0;
    std::size_t depth = 0;
    std::size_t textRun = 0;
    std::size_t at = 0;
    // Whatever is not well-formed is left to the parser; this scan only bounds what it will do.
    while (at < text.size()) {
        const std::size_t open = std::min(text.find('<', at), text.size());
        if (badReference(at, open)) {
            return refuse(refusedReference);
        }
        textRun += open - at;
        if (textRun > kMaxManifestText) {
            return refuse("a text of more than " + std::to_string(kMaxManifestText) + " bytes");
        }
        if (open == text.size()) {
            break;
        }
        const auto skipTo = [&text, open](const char* end, std::size_t from) {
            const std::size_t found = text.find(end, open + from);
            return found == std::string::npos ? text.size() : found + std::strlen(end);
        };
        if (text.compare(open, 2, "<?") == 0) {
            at = skipTo("?>", 2);
        } else if (text.compare(open, 4, "<!--") == 0) {
            at = skipTo("-->", 4);
        } else if (text.compare(open, 9, "<![CDATA[") == 0) {
            at = skipTo("]]>", 9);
            textRun += at - open;
            if (textRun > kMaxManifestText) {
                return refuse("a text of more than " + std::to_string(kMaxManifestText) + " bytes");
            }
            continue;
        } else if (text.compare(open, 2, "<!") == 0) {
            return refuse("a document type or entity declaration (a clone file's manifest never has one)");
        } else if (text.compare(open, 2, "</") == 0) {
            depth -= depth > 0 ? 1 : 0;
            at = skipTo(">", 2);
        } else {
            if (++elements > kMaxManifestElements) {
                return refuse("more than " + std::to_string(kMaxManifestElements) + " elements");
            }
            std::size_t attributes = 0;
            char quote = 0;
            std::size_t i = open + 1;
            for (; i < text.size() && (quote != 0 || text[i] != '>'); ++i) {
                if (quote != 0) {
                    quote = text[i] == quote ? '\0' : quote;
                    if (quote != 0 && text[i] == '&' && !harmlessReference(text, i)) {
                        return refuse(refusedReference);
                    }
                } else if (text[i] == '"' || text[i] == '\'') {
                    quote = text[i];
                } else if (text[i] == '=' && ++attributes > kMaxManifestAttributes) {
                    return refuse("an element with more than " + std::to_string(kMaxManifestAttributes) +
                                  " attributes");
                }
            }
            if (i < text.size() && text[i - 1] != '/' && ++depth > kMaxManifestDepth) {
                return refuse("elements nested more than " + std::to_string(kMaxManifestDepth) + " deep");
            }
            at = i + 1;
        }
        textRun = 0;
    }
    return true;
}

XmlDocument readUntrustedXml(const std::string& text, std::string& detail)
{
    if (!manifestShapeOk(text, detail)) {
        detail = "refused: " + detail;
        return XmlDocument();
    }
    const ParserErrors capture(&detail);
    XmlDocument doc(xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOXINCNODE));
    // The scan refuses every declaration; the parser's own view is checked all the same.
    if (doc && (doc->intSubset != nullptr || doc->extSubset != nullptr)) {
        detail = "refused: a document type declaration";
        return XmlDocument();
    }
    return doc;
}

bool validateManifest(const std::string& text, const std::string& schemaDir, const std::string& expectedRoot,
                      std::string& error)
{
    std::string detail;
    const XmlDocument doc = readUntrustedXml(text, detail);
    const xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    if (root == nullptr) {
        error = detail.compare(0, 8, "refused:") == 0 ? detail
                : "not well-formed XML" + (detail.empty() ? std::string() : ": " + detail);
        return false;
    }
    const std::string rootName = reinterpret_cast<const char*>(root->name);
    if (rootName != "CloningManifest" && rootName != "ConfigurationManifest") {
        error = "root element " + rootName + " is not a manifest";
        return false;
    }
    if (!expectedRoot.empty() && rootName != expectedRoot) {
        error = "root element " + rootName + " where " + expectedRoot + " belongs";
        return false;
    }
    const std::string schemaPath = schemaDir + "/" + rootName + ".xsd";
    std::unique_ptr<xmlSchemaParserCtxt, ParserFree> schemaParser(xmlSchemaNewParserCtxt(schemaPath.c_str()));
    if (!schemaParser) {
        error = "out of memory";
        return false;
    }
    xmlSchemaSetParserStructuredErrors(schemaParser.get(), firstError, &detail);
    std::unique_ptr<xmlSchema, SchemaFree> schema(xmlSchemaParse(schemaParser.get()));
    if (!schema) {
        error = "cannot load the schema " + schemaPath + (detail.empty() ? std::string() : ": " + detail);
        return false;
    }
    std::unique_ptr<xmlSchemaValidCtxt, ValidFree> valid(xmlSchemaNewValidCtxt(schema.get()));
    if (!valid) {
        error = "out of memory";
        return false;
    }
    xmlSchemaSetValidStructuredErrors(valid.get(), firstError, &detail);
    if (xmlSchemaValidateDoc(valid.get(), doc.get()) != 0) {
        error = "does not validate against " + rootName + ".xsd: " + detail;
        return false;
    }
    return true;
}

bool emptyManifest(const std::string& text)
{
    const std::size_t end = text.find("?>");
    return text.compare(0, 5, "<?xml") == 0 && end != std::string::npos &&
           text.find_first_not_of(" \t\r\n", end + 2) == std::string::npos;
}

}  // namespace clonefmt
