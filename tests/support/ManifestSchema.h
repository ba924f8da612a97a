// Manifests checked against the project's XML Schemas (schemas/), as a receiving side would.
#ifndef CLONE_TESTS_MANIFESTSCHEMA_H
#define CLONE_TESTS_MANIFESTSCHEMA_H

#include <gtest/gtest.h>

#include <string>

namespace clonetest {

// Success when TEXT validates against the schema of its root element, or is what pruning leaves of
// a manifest with nothing in it.
testing::AssertionResult validManifest(const std::string& text);

}  // namespace clonetest

#endif
