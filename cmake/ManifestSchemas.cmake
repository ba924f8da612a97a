# The manifest schemas, each with the shared types written in place of its include, as C strings in
# OUTDIR/ManifestSchemas.h: the library checks a manifest against exactly what clonefile verify
# uses, with no schema files on the device. The library's build and the fuzz build both call it.
set(_clone_schemas_source ${CMAKE_CURRENT_LIST_DIR}/../schemas)
function(clone_manifest_schemas outdir)
  set(_schemas ${_clone_schemas_source})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${_schemas}/ManifestTypes.xsd ${_schemas}/CloningManifest.xsd ${_schemas}/ConfigurationManifest.xsd)
  file(READ ${_schemas}/ManifestTypes.xsd _types)
  string(REGEX REPLACE "^.*elementFormDefault=\"qualified\">" "" _types "${_types}")
  string(REGEX REPLACE "</xs:schema>[ \t\r\n]*$" "" _types "${_types}")
  foreach(_root CloningManifest ConfigurationManifest)
    file(READ ${_schemas}/${_root}.xsd _schema)
    string(FIND "${_schema}" "<xs:include schemaLocation=\"ManifestTypes.xsd\"/>" _at)
    if(_at EQUAL -1 OR "${_schema}${_types}" MATCHES "\\)xsd\"")
      message(FATAL_ERROR "${_root}.xsd cannot be built in: it needs one include of ManifestTypes.xsd, and no text )xsd\"")
    endif()
    string(REPLACE "<xs:include schemaLocation=\"ManifestTypes.xsd\"/>" "${_types}" "_schema_${_root}" "${_schema}")
  endforeach()
  file(CONFIGURE OUTPUT ${outdir}/ManifestSchemas.h CONTENT
"// Generated from schemas/ by cmake/ManifestSchemas.cmake; edit those.
#ifndef CLONE_MANIFESTSCHEMAS_H
#define CLONE_MANIFESTSCHEMAS_H
constexpr char kCloningManifestSchema[] = R\"xsd(@_schema_CloningManifest@)xsd\";
constexpr char kConfigurationManifestSchema[] = R\"xsd(@_schema_ConfigurationManifest@)xsd\";
#endif
" @ONLY)
endfunction()
