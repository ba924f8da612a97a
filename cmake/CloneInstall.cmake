# What `cmake --install` puts in place: the library with its public header, a CMake package
# (find_package(cloneCreator) gives cloneCreator::cloneCreator) and a pkg-config file. A host
# build adds the device-service stand-ins the library runs against (libclonehost) and the
# clonefile command with its schemas (tools/clonefile); on the device the firmware provides those
# services.
include(CMakePackageConfigHelpers)

# Components: "runtime" is what goes on a device (the library alone); "sdk" is what a program is
# built with (header, CMake and pkg-config files, and for the device flavour the firmware's link
# stand-in, which never goes on a device). A plain install puts both in place.
set_target_properties(cloneCreator PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
target_include_directories(cloneCreator INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS cloneCreator EXPORT cloneCreatorTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT sdk
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${CLONE_PUBLIC_HEADER} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT sdk)
set(CLONE_PC_LIBS_EXTRA "")
if(CLONE_DEVICE_BUILD)
  # The firmware's stand-in, where only the linker looks: found through -rpath-link while a program
  # is linked, never at run time.
  set(_clone_sdk_libdir ${CMAKE_INSTALL_LIBDIR}/cloneCreator-sdk)
  install(TARGETS clonefirmware EXPORT cloneCreatorTargets
          LIBRARY DESTINATION ${_clone_sdk_libdir} COMPONENT sdk NAMELINK_SKIP)
  set(CLONE_PC_LIBS_EXTRA " -Wl,-rpath-link,\${libdir}/cloneCreator-sdk")
else()
  set_target_properties(clonehost PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  install(TARGETS clonehost EXPORT cloneCreatorTargets
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT sdk)
  # The installed library finds the stand-ins beside itself.
  set_target_properties(cloneCreator PROPERTIES INSTALL_RPATH "$ORIGIN")
endif()

set(_clone_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/cloneCreator)
install(EXPORT cloneCreatorTargets NAMESPACE cloneCreator:: DESTINATION ${_clone_cmake_dir} COMPONENT sdk)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/cloneCreatorConfig.cmake.in
  ${PROJECT_BINARY_DIR}/cloneCreatorConfig.cmake INSTALL_DESTINATION ${_clone_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/cloneCreatorConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/cloneCreatorConfig.cmake ${PROJECT_BINARY_DIR}/cloneCreatorConfigVersion.cmake
        DESTINATION ${_clone_cmake_dir} COMPONENT sdk)

# pkg-config: paths relative to the .pc file, so the installed tree may be moved.
set(_clone_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH _clone_pc_to_prefix "/${_clone_pc_dir}" "/")
string(REGEX REPLACE "/$" "" _clone_pc_to_prefix "${_clone_pc_to_prefix}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/cloneCreator.pc.in ${PROJECT_BINARY_DIR}/cloneCreator.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/cloneCreator.pc DESTINATION ${_clone_pc_dir} COMPONENT sdk)
