// The rules of the manifest schemas, built into the library as a table (cmake/ManifestSchemas.cmake):
// an export whose manifest would fail them (a placed manifest outside the manifest namespace, an
// element no schema knows) makes no clone file, so result 0 always means one that verifies. No
// schema is parsed: libxml2's schema support, and its lazily built global type tables that a host
// thread could be building at the same moment, are not needed.
#ifndef CLONE_MANIFESTSCHEMA_H
#define CLONE_MANIFESTSCHEMA_H

#include <string>

namespace cloneutil {

// Empty when the saved manifest at PATH is valid for clone type DLMTYPE ("clone" or "cloneSelf");
// its first fault otherwise.
std::string manifestSchemaFault(const char* path, const std::string& dlmType);

}  // namespace cloneutil

#endif
