# install.cmake - what `cmake --install` puts into a prefix: the shared
# library, the public headers, the command-line tool, the Python package, a pkg-config file
# (zelto.pc) and a CMake package, so that hosts can use
#   find_package(zelto)  and  target_link_libraries(app zelto::zelto)
# or  cc app.c $(pkg-config --cflags --libs zelto).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ZELTO_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zelto)

install(TARGETS zelto EXPORT zeltoTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/zelto.h ${PROJECT_SOURCE_DIR}/include/zelto_exports.h
  ${PROJECT_SOURCE_DIR}/include/zelto_performed.h ${PROJECT_SOURCE_DIR}/include/zelto_so_exports.h
  ${PROJECT_SOURCE_DIR}/include/zelto_song.h ${PROJECT_SOURCE_DIR}/include/zelto_musicxml.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# The Python package, beside the library by default, where it finds the
# library without ZELTO_LIBRARY: PYTHONPATH=<prefix>/lib python3 -c 'import zelto'.
option(ZELTO_INSTALL_PYTHON "Install the Python package zelto" ON)
set(ZELTO_PYTHON_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR} CACHE STRING
    "Where cmake --install puts the Python package zelto (beside the library by default)")
if(ZELTO_INSTALL_PYTHON)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/zelto DESTINATION ${ZELTO_PYTHON_INSTALL_DIR}
    COMPONENT python FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)
endif()
if(TARGET zelto_cli)
  install(TARGETS zelto_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# The CMake package: the exported target, its config file and its version
# file. Until version 1.0 every minor version may change the interface.
install(EXPORT zeltoTargets NAMESPACE zelto:: FILE zeltoTargets.cmake
  DESTINATION ${ZELTO_PACKAGE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/zeltoConfig.cmake.in
  ${PROJECT_BINARY_DIR}/zeltoConfig.cmake
  INSTALL_DESTINATION ${ZELTO_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/zeltoConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/zeltoConfig.cmake ${PROJECT_BINARY_DIR}/zeltoConfigVersion.cmake
  DESTINATION ${ZELTO_PACKAGE_DIR})

# The pkg-config file names its folders relative to its own place, so the
# installed tree works under whatever prefix `cmake --install --prefix` gives.
set(ZELTO_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(ZELTO_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(ZELTO_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
  set(ZELTO_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
else()
  file(RELATIVE_PATH ZELTO_PC_UP "/prefix/${ZELTO_PC_DIR}" "/prefix")
  set(ZELTO_PC_PREFIX "\${pcfiledir}/${ZELTO_PC_UP}")
  string(REGEX REPLACE "/$" "" ZELTO_PC_PREFIX "${ZELTO_PC_PREFIX}")
  set(ZELTO_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(ZELTO_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/zelto.pc.in ${PROJECT_BINARY_DIR}/zelto.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zelto.pc DESTINATION ${ZELTO_PC_DIR})
