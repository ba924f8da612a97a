// The shape a clone file's manifest must keep before any parser sees it: bounded size, elements,
// attributes, depth and text runs, and nothing that can expand. The library checks the manifest it
// saved with these rules, and clonefile every manifest it reads: what one makes, the other reads.
#ifndef CLONE_FORMAT_CLONE_MANIFEST_SHAPE_H
#define CLONE_FORMAT_CLONE_MANIFEST_SHAPE_H

#include <cstddef>
#include <string>

namespace clonefmt {

// What a manifest may hold. The largest the library writes (the x10 profile) stays far below each,
// and a document within them parses in bounded time and memory.
constexpr std::size_t kMaxManifestBytes = 1u << 20;
constexpr std::size_t kMaxManifestElements = 10000;
constexpr std::size_t kMaxManifestAttributes = 16;  // per element, namespace declarations included
constexpr std::size_t kMaxManifestDepth = 64;
constexpr std::size_t kMaxManifestText = 64u << 10;  // one run of text between tags

// True when TEXT keeps to the limits above and holds no document type or entity declaration and no
// entity reference beyond the five predefined ones and character references: nothing in it can
// expand. A lexical scan, made before any parser sees TEXT; ERROR says what was refused.
bool manifestShapeOk(const std::string& text, std::string& error);

}  // namespace clonefmt

#endif
