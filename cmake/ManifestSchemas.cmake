# The manifest schemas as a table in OUTDIR/ManifestSchemas.h: for each type, the elements it may
# hold (each at most once, in any order; the required ones marked) and the attributes it takes.
# The library checks a manifest against exactly the rules clonefile verify takes from these files,
# without parsing a schema on the device. Only the constructs below are understood; any other line
# of the schemas stops the configuration, so the table can never be weaker than the schemas.
# The library's build and the fuzz build both call it.
set(_clone_schemas_source ${CMAKE_CURRENT_LIST_DIR}/../schemas)
function(clone_manifest_schemas outdir)
  set(_schemas ${_clone_schemas_source})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${_schemas}/ManifestTypes.xsd ${_schemas}/CloningManifest.xsd ${_schemas}/ConfigurationManifest.xsd)
  set(_children "")
  set(_attributes "")
  set(_roots "")
  set(_defined Value)
  set(_used "")
  foreach(_file ManifestTypes CloningManifest ConfigurationManifest)
    file(STRINGS ${_schemas}/${_file}.xsd _lines)
    set(_state "")
    set(_type "")
    set(_sequence -1)
    foreach(_raw IN LISTS _lines)
      string(STRIP "${_raw}" _line)
      set(_where "schemas/${_file}.xsd: \"${_line}\"")
      if(_state STREQUAL "comment")
        if(_line MATCHES "-->$")
          set(_state "")
        endif()
      elseif(_state STREQUAL "schema")
        if(_line MATCHES ">$")
          set(_state "")
        endif()
      elseif(_line STREQUAL "" OR _line MATCHES "^<\\?xml .*\\?>$" OR _line MATCHES "^<!--.*-->$")
      elseif(_line MATCHES "^<!--")
        set(_state "comment")
      elseif(_line MATCHES "^<xs:schema ")
        if(NOT _line MATCHES ">$")
          set(_state "schema")
        endif()
      elseif(_line MATCHES "^<xs:simpleType name=\"([A-Za-z]+)\">$")
        if(NOT CMAKE_MATCH_1 STREQUAL "Value")
          message(FATAL_ERROR "${_where}: only the simple type Value (a string of at least one character) is known")
        endif()
        set(_type "Value")
      elseif(_line STREQUAL "<xs:restriction base=\"xs:string\">" OR _line STREQUAL "<xs:minLength value=\"1\"/>")
        if(NOT _type STREQUAL "Value")
          message(FATAL_ERROR "${_where}: a restriction outside the simple type Value")
        endif()
      elseif(_line STREQUAL "</xs:restriction>" OR _line STREQUAL "</xs:simpleType>" OR _line STREQUAL "<xs:all>"
             OR _line STREQUAL "<xs:complexType>" OR _line MATCHES "^</xs:(all|complexType|element|schema)>$"
             OR _line STREQUAL "<xs:include schemaLocation=\"ManifestTypes.xsd\"/>")
      elseif(_line STREQUAL "<xs:sequence>")
        set(_sequence 0)
      elseif(_line STREQUAL "</xs:sequence>")
        # One element in a sequence is the same as one in xs:all; more would fix an order.
        if(_sequence GREATER 1)
          message(FATAL_ERROR "${_where}: a sequence of more than one element is not known")
        endif()
        set(_sequence -1)
      elseif(_line MATCHES "^<xs:complexType name=\"([A-Za-z]+)\">$")
        set(_type ${CMAKE_MATCH_1})
        list(APPEND _defined ${CMAKE_MATCH_1})
      elseif(_line MATCHES "^<xs:element name=\"([A-Za-z]+)\">$")
        # A global element: the manifest's root, its type declared in place and named after it.
        set(_type ${CMAKE_MATCH_1})
        string(APPEND _roots "    \"${CMAKE_MATCH_1}\",\n")
      elseif(_line MATCHES "^<xs:element name=\"([A-Za-z]+)\" type=\"([A-Za-z]+)\"( minOccurs=\"0\")?/>$")
        if(_type STREQUAL "" OR _type STREQUAL "Value")
          message(FATAL_ERROR "${_where}: an element outside a complex type")
        endif()
        if(_sequence GREATER_EQUAL 0)
          math(EXPR _sequence "${_sequence} + 1")
        endif()
        set(_required true)
        if(CMAKE_MATCH_3)
          set(_required false)
        endif()
        list(APPEND _used ${CMAKE_MATCH_2})
        string(APPEND _children "    {\"${_type}\", \"${CMAKE_MATCH_1}\", \"${CMAKE_MATCH_2}\", ${_required}},\n")
      elseif(_line MATCHES "^<xs:attribute name=\"([A-Za-z]+)\" type=\"Value\"( use=\"required\")?/>$")
        if(_type STREQUAL "" OR _type STREQUAL "Value")
          message(FATAL_ERROR "${_where}: an attribute outside a complex type")
        endif()
        set(_required false)
        if(CMAKE_MATCH_2)
          set(_required true)
        endif()
        string(APPEND _attributes "    {\"${_type}\", \"${CMAKE_MATCH_1}\", ${_required}},\n")
      else()
        message(FATAL_ERROR "${_where}: not a construct the library's built-in check knows; "
                            "teach cmake/ManifestSchemas.cmake and cloneCreator/src/ManifestSchema.cpp first")
      endif()
    endforeach()
  endforeach()
  # A type the schemas use but never define would be checked as an empty grouping.
  foreach(_childType IN LISTS _used)
    if(NOT _childType IN_LIST _defined)
      message(FATAL_ERROR "schemas/: the type ${_childType} is used but not defined")
    endif()
  endforeach()
  file(CONFIGURE OUTPUT ${outdir}/ManifestSchemas.h CONTENT
"// Generated from schemas/ by cmake/ManifestSchemas.cmake; edit those.
#ifndef CLONE_MANIFESTSCHEMAS_H
#define CLONE_MANIFESTSCHEMAS_H
namespace cloneutil {
// The manifests' root elements; each is its own type.
constexpr const char* kSchemaRoots[] = {
@_roots@};
// TYPE may hold ELEMENT (of CHILDTYPE: \"Value\" is text of at least one character).
struct SchemaChild {
    const char* type;
    const char* element;
    const char* childType;
    bool required;
};
constexpr SchemaChild kSchemaChildren[] = {
@_children@};
// TYPE takes the attribute NAME (its value text of at least one character).
struct SchemaAttribute {
    const char* type;
    const char* name;
    bool required;
};
constexpr SchemaAttribute kSchemaAttributes[] = {
@_attributes@};
}  // namespace cloneutil
#endif
" @ONLY)
endfunction()
