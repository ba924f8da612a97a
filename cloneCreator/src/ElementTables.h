// Every manifest element's facts, written once: the clone helper that fills it, the misc key of the
// group files that makes it and where, and, for an element whose capture is a plain copy, what is
// copied where with which messages. The helper map and the misc map are built from these tables;
// docs/adding-a-clone-helper.md lists what else a new element needs.
#ifndef CLONE_ELEMENTTABLES_H
#define CLONE_ELEMENTTABLES_H

#include <vector>

#include "CloneCreator.h"
#include "Staging.h"

namespace cloneutil {

// A manifest element and the clone helper that fills it.
struct HelperRow {
    const char* element;
    CloneCreator::Helper helper;
};

// A misc key of the group files and the manifest path it makes below "cloningData", parent first.
struct MiscRow {
    const char* key;
    std::vector<const char*> path;
};

// An element whose capture is a plain copy. HELPER is the named helper it has (null: the walk
// reaches it through clonePlainCopyHelper); KEY, when not null, is the misc key that makes it at
// PARENTS/ELEMENT below "cloningData".
struct PlainCopyRow {
    const char* element;
    CloneCreator::Helper helper;
    const char* key;
    std::vector<const char*> parents;
    PlainCopy copy;
};

// An element that brings a companion element under "Certificates" when the stub manifest gets it:
// its certificates are captured apart.
struct CompanionRow {
    const char* element;
    const char* companion;
};

extern const std::vector<HelperRow> kHelperTable;
extern const std::vector<MiscRow> kMiscRows;
extern const std::vector<PlainCopyRow> kPlainCopies;
extern const std::vector<CompanionRow> kCertificateCompanions;
// The element the stub manifest gives the attribute number="1.0.0" (a data format's version).
extern const char kNumberedElement[];

}  // namespace cloneutil

#endif
