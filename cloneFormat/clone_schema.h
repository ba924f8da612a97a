// Checks a manifest against the XML Schemas of the project (schemas/CloningManifest.xsd and
// schemas/ConfigurationManifest.xsd): the schema is the one named after the root element.
#ifndef CLONE_FORMAT_CLONE_SCHEMA_H
#define CLONE_FORMAT_CLONE_SCHEMA_H

#include <cstddef>
#include <memory>
#include <string>

#include <libxml/tree.h>

#include "clone_manifest_shape.h"

namespace clonefmt {

struct XmlDocFree {
    void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
using XmlDocument = std::unique_ptr<xmlDoc, XmlDocFree>;

// TEXT parsed as XML of unknown origin once manifestShapeOk accepts it (no entity substitution, no
// DTD loading, no network); null when it is refused or no well-formed XML, with libxml2's first message and its line in DETAIL.
XmlDocument readUntrustedXml(const std::string& text, std::string& detail);

// True when TEXT is a manifest whose root is EXPECTEDROOT (either manifest when empty) and which
// validates against SCHEMADIR/ROOT.xsd. ERROR holds the first fault otherwise.
bool validateManifest(const std::string& text, const std::string& schemaDir, const std::string& expectedRoot,
                      std::string& error);

// True for what the library saves when pruning removed every element: an XML declaration and
// nothing else. There is no element to validate then.
bool emptyManifest(const std::string& text);

}  // namespace clonefmt

#endif
