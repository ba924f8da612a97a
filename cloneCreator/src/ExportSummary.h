// What a technician reads at the end of an export: the elements the clone file holds, and why each
// other element of the stub manifest is not there.
#ifndef CLONE_EXPORTSUMMARY_H
#define CLONE_EXPORTSUMMARY_H

#include <libxml/tree.h>


namespace cloneutil {

// The elements of the stub manifest, before the walk; forgets what the last export noted.
void noteStubManifest(xmlNodePtr root);
// Around one capture of ELEMENT.
void captureStarts();
void captureEnded(xmlNodePtr element);
// One INFO record: the elements filled in the manifest at MANIFESTPATH (null or unreadable: none),
// and each element of the stub that is not there, with its reason.
void logExportSummary(const char* manifestPath);

}  // namespace cloneutil

#endif
