# What `cmake --install` puts in a prefix: the servers, the tool, the client
# library (static and as a DLL) with its headers, a CMake package
# (find_package(plughost) gives plughost::client and plughost::shared), a
# pkg-config file, the README's examples and the licence.
include(CMakePackageConfigHelpers)

set(PLUGHOST_OTHER_BUILD_EXE "" CACHE FILEPATH
    "The other processor's server (plughost32.exe for the 64-bit tree), installed beside this one")

install(TARGETS plughost${PLUGHOST_BITS} plughost-cli RUNTIME DESTINATION bin)
if(PLUGHOST_OTHER_BUILD_EXE)
  install(PROGRAMS ${PLUGHOST_OTHER_BUILD_EXE} DESTINATION bin)
endif()

install(TARGETS plughost_client plughost_shared EXPORT plughostTargets
  RUNTIME DESTINATION bin ARCHIVE DESTINATION lib LIBRARY DESTINATION lib)
install(FILES editor/plughost.h ${PLUGHOST_GENERATED_DIR}/plughost_version.h DESTINATION include)
# The C++ layer keeps its rooms' paths.
install(FILES editor/plughost_client.h editor/hidden_window.h DESTINATION include/plughost/editor)
install(FILES wire/protocol.h DESTINATION include/plughost/wire)

install(EXPORT plughostTargets NAMESPACE plughost:: DESTINATION lib/cmake/plughost)
configure_package_config_file(cmake/plughostConfig.cmake.in ${CMAKE_BINARY_DIR}/plughostConfig.cmake
  INSTALL_DESTINATION lib/cmake/plughost)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/plughostConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/plughostConfig.cmake ${CMAKE_BINARY_DIR}/plughostConfigVersion.cmake
  DESTINATION lib/cmake/plughost)

configure_file(cmake/plughost.pc.in ${CMAKE_BINARY_DIR}/plughost.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/plughost.pc DESTINATION lib/pkgconfig)

install(FILES editor/examples/filter_image.c editor/examples/low_level.cpp DESTINATION share/doc/plughost/examples)
install(FILES LICENSE README.md DESTINATION share/doc/plughost)
