// The library's portal for plug-ins of the category "cloning".
#ifndef CLONE_CLONINGEXPORTPORTAL_H
#define CLONE_CLONINGEXPORTPORTAL_H

#include <string>

#include "CloningPlugin.h"
#include "Portal.h"

class CloningExportPortal : public kel::plugin::Portal<cloning::Plugin> {
public:
    // The named plug-in's export of FILENAME; false when no plug-in is filed under the name
    // (which files the name with no plug-in).
    bool_t exportClone(const std::string& contentType, const std::string& filename);
};

namespace cloneutil {
// The one portal of the library: it lives as long as the library and keeps what is installed.
CloningExportPortal& cloningPortal();
}

#endif
