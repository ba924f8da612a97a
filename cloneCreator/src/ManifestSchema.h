// The schemas a clone file's manifest is checked against, built into the library: an export whose
// manifest would fail them (a placed manifest outside the manifest namespace, an element no schema
// knows) makes no clone file, so result 0 always means one that verifies.
#ifndef CLONE_MANIFESTSCHEMA_H
#define CLONE_MANIFESTSCHEMA_H

#include <string>

namespace cloneutil {

// Empty when the saved manifest at PATH is valid for clone type DLMTYPE ("clone" or "cloneSelf");
// its first fault otherwise, named as libxml2 names it.
std::string manifestSchemaFault(const char* path, const std::string& dlmType);

}  // namespace cloneutil

#endif
