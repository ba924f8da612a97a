#include "ManifestSchema.h"

#include <cstring>
#include <memory>

#include <libxml/xmlschemas.h>

#include "ManifestSchemas.h"  // generated from schemas/ at configure time
#include "XmlNodes.h"

#ifndef LIBXML_SCHEMAS_ENABLED
#error "the manifest check needs a libxml2 built with XML Schema support"
#endif

namespace cloneutil {

namespace {

struct SchemaParserFree {
    void operator()(xmlSchemaParserCtxt* c) const { xmlSchemaFreeParserCtxt(c); }
};
struct SchemaFree {
    void operator()(xmlSchema* s) const { xmlSchemaFree(s); }
};
struct SchemaValidFree {
    void operator()(xmlSchemaValidCtxt* c) const { xmlSchemaFreeValidCtxt(c); }
};

// Keeps the first message, per context: the host's libxml2 error handlers are left alone.
void firstFault(void* context, xmlErrorPtr error)
{
    std::string& fault = *static_cast<std::string*>(context);
    if (!fault.empty() || error == nullptr || error->message == nullptr) {
        return;
    }
    fault = error->message;
    while (!fault.empty() && (fault.back() == '\n' || fault.back() == ' ')) {
        fault.pop_back();
    }
}

}  // namespace

std::string manifestSchemaFault(const char* path, const std::string& dlmType)
{
    const XmlDoc doc = parseManifest(path);
    if (!doc) {
        return "it cannot be parsed";
    }
    const char* schemaText = dlmType == "cloneSelf" ? kConfigurationManifestSchema : kCloningManifestSchema;
    std::string fault;
    const std::unique_ptr<xmlSchemaParserCtxt, SchemaParserFree> parser(
        xmlSchemaNewMemParserCtxt(schemaText, static_cast<int>(std::strlen(schemaText))));
    if (!parser) {
        return "the schema cannot be loaded";
    }
    xmlSchemaSetParserStructuredErrors(parser.get(), firstFault, &fault);
    const std::unique_ptr<xmlSchema, SchemaFree> schema(xmlSchemaParse(parser.get()));
    if (!schema) {
        return "the schema cannot be loaded" + (fault.empty() ? std::string() : ": " + fault);
    }
    const std::unique_ptr<xmlSchemaValidCtxt, SchemaValidFree> valid(xmlSchemaNewValidCtxt(schema.get()));
    if (!valid) {
        return "the schema cannot be loaded";
    }
    xmlSchemaSetValidStructuredErrors(valid.get(), firstFault, &fault);
    if (xmlSchemaValidateDoc(valid.get(), doc.get()) != 0) {
        return fault.empty() ? std::string("it does not validate") : fault;
    }
    return std::string();
}

}  // namespace cloneutil
