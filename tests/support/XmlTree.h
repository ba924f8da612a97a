// Readable outlines of XML documents, so that manifests are compared as trees (names, order,
// attributes, text) and a failing comparison shows where the trees differ.
#ifndef CLONE_TESTS_XMLTREE_H
#define CLONE_TESTS_XMLTREE_H

#include <string>

#include <libxml/tree.h>

namespace clonetest {

// One line per node, indented by two blanks per level:
//   element:  name[attr=value][attr=value]: text
//   comment:  #comment: text
// Attributes (namespace declarations included, as xmlns / xmlns:prefix) are sorted by name; an
// element's text is the concatenation of its direct text children, shown only when not empty,
// with line feeds, tabs and carriage returns written as \n, \t and \r.
std::string xmlOutline(const xmlDoc* doc);
// The outline of the file at PATH, parsed with ignorable blanks dropped; "<unparseable>" when
// it is not well-formed XML, "<missing>" when there is no file.
std::string xmlFileOutline(const std::string& path);

}  // namespace clonetest

#endif
