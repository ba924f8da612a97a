#include "ManifestSchema.h"

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <libxml/parser.h>

#include "Handles.h"
#include "ManifestSchemas.h"  // generated from schemas/ at configure time
#include "StubManifest.h"
#include "clone_manifest_shape.h"

namespace cloneutil {

namespace {

// The type of a Value element: text of at least one character, no element, no attribute.
const char kValueType[] = "Value";

const char* text(const xmlChar* s)
{
    return reinterpret_cast<const char*>(s);
}

bool inManifestNamespace(const xmlNode* node)
{
    return node->ns != nullptr && node->ns->href != nullptr &&
           std::strcmp(text(node->ns->href), CLONE_MANIFEST_NAMESPACE) == 0;
}

std::string named(const xmlNode* element)
{
    return "element " + std::string(text(element->name));
}

// What a schema processor allows on any element: where to find the schema. Anything else of the
// instance namespace (a type, nil) is refused.
bool locationHint(const xmlAttr* attribute)
{
    return attribute->ns != nullptr && std::strcmp(text(attribute->ns->href), CLONE_XSI_NAMESPACE) == 0 &&
           (std::strcmp(text(attribute->name), "schemaLocation") == 0 ||
            std::strcmp(text(attribute->name), "noNamespaceSchemaLocation") == 0);
}

std::string attributesFault(const xmlNode* element, const char* type)
{
    for (const xmlAttr* attribute = element->properties; attribute != nullptr; attribute = attribute->next) {
        if (locationHint(attribute)) {
            continue;
        }
        bool declared = false;
        for (const SchemaAttribute& row : kSchemaAttributes) {
            declared = declared || (attribute->ns == nullptr && std::strcmp(row.type, type) == 0 &&
                                    std::strcmp(row.name, text(attribute->name)) == 0);
        }
        if (!declared) {
            return named(element) + " does not take the attribute " + text(attribute->name);
        }
    }
    for (const SchemaAttribute& row : kSchemaAttributes) {
        if (std::strcmp(row.type, type) != 0) {
            continue;
        }
        const XmlChar value(xmlGetNoNsProp(element, reinterpret_cast<const xmlChar*>(row.name)));
        if (value && value.get()[0] == '\0') {
            return named(element) + " has an empty attribute " + row.name;
        }
        if (!value && row.required) {
            return named(element) + " lacks the attribute " + row.name;
        }
    }
    return std::string();
}

// NOLINTNEXTLINE(misc-no-recursion): as deep as the schemas' types nest, a handful
std::string elementFault(const xmlNode* element, const char* type)
{
    std::string fault = attributesFault(element, type);
    if (!fault.empty()) {
        return fault;
    }
    const bool value = std::strcmp(type, kValueType) == 0;
    std::size_t characters = 0;
    std::vector<const char*> seen;
    for (const xmlNode* child = element->children; child != nullptr; child = child->next) {
        if (child->type == XML_COMMENT_NODE || child->type == XML_PI_NODE) {
            continue;
        }
        if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) {
            const char* content = text(child->content);
            characters += content != nullptr ? std::strlen(content) : 0;
            if (!value && content != nullptr && content[std::strspn(content, " \t\r\n")] != '\0') {
                return named(element) + " holds text where only elements belong";
            }
            continue;
        }
        if (child->type != XML_ELEMENT_NODE || value) {
            return named(element) + (value ? " holds more than text" : " holds what is no element or text");
        }
        const SchemaChild* declared = nullptr;
        for (const SchemaChild& row : kSchemaChildren) {
            if (declared == nullptr && std::strcmp(row.type, type) == 0 &&
                std::strcmp(row.element, text(child->name)) == 0) {
                declared = &row;
            }
        }
        if (declared == nullptr || !inManifestNamespace(child)) {
            return named(child) + " is not expected in " + named(element);
        }
        for (const char* earlier : seen) {
            if (earlier == declared->element) {
                return named(child) + " appears twice in " + named(element);
            }
        }
        seen.push_back(declared->element);
        fault = elementFault(child, declared->childType);
        if (!fault.empty()) {
            return fault;
        }
    }
    if (value && characters == 0) {
        return named(element) + " is empty";
    }
    for (const SchemaChild& row : kSchemaChildren) {
        bool present = false;
        for (const char* earlier : seen) {
            present = present || earlier == row.element;
        }
        if (row.required && std::strcmp(row.type, type) == 0 && !present) {
            return named(element) + " lacks its element " + row.element;
        }
    }
    return std::string();
}

}  // namespace

std::string manifestSchemaFault(const char* path, const std::string& dlmType)
{
    // Read as clonefile reads it: whole, held to the shape rules before libxml2 sees it.
    const Fd fd(::open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat st;
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return "it cannot be read";
    }
    if (static_cast<unsigned long long>(st.st_size) > clonefmt::kMaxManifestBytes) {
        return "larger than " + std::to_string(clonefmt::kMaxManifestBytes) + " bytes";
    }
    std::string manifest(static_cast<std::size_t>(st.st_size), '\0');
    if (!manifest.empty() && ::pread(fd.get(), manifest.data(), manifest.size(), 0) != static_cast<ssize_t>(manifest.size())) {
        return "it cannot be read";
    }
    std::string fault;
    if (!clonefmt::manifestShapeOk(manifest, fault)) {
        return fault;
    }
    const XmlDoc doc(xmlReadMemory(manifest.data(), static_cast<int>(manifest.size()), nullptr, nullptr,
                                   XML_PARSE_NONET | XML_PARSE_NOXINCNODE | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    const xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    if (root == nullptr) {
        return "it cannot be parsed";
    }
    // No reader of a clone file takes a document type: it could declare what expands.
    if (doc->intSubset != nullptr || doc->extSubset != nullptr) {
        return "it has a document type declaration";
    }
    const char* const rootName = dlmType == "cloneSelf" ? "ConfigurationManifest" : "CloningManifest";
    bool known = false;
    for (const char* schemaRoot : kSchemaRoots) {
        known = known || std::strcmp(schemaRoot, rootName) == 0;
    }
    if (!known || std::strcmp(text(root->name), rootName) != 0 || !inManifestNamespace(root)) {
        return "its root is not " + std::string(rootName) + " of " CLONE_MANIFEST_NAMESPACE;
    }
    return elementFault(root, rootName);
}

}  // namespace cloneutil
