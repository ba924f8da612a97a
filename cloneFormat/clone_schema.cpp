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

}  // namespace

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
