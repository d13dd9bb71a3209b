# windows.cmake - what makes the shared library a 32-bit Windows zelto.dll:
# the module-definition file generated from include/zelto_exports.h, the
# version resource, the static runtimes, the import library, and the Windows
# host test. On other platforms it only offers the Linux helper programs of
# scripts/windows-check.

set(ZELTO_EXPORT_TABLE ${PROJECT_SOURCE_DIR}/include/zelto_exports.h)

# Reads the export table and sets, in the caller's scope:
#   <prefix>_NAMES  the plain export names in byte-wise (ASCII) order
#   <prefix>_BYTES_<name>  the argument bytes of each, for its decorated name
function(zelto_read_export_table table prefix)
  file(READ ${table} text)
  # Comments may quote the macro's own parameter list; drop them first.
  string(REGEX REPLACE "/\\*([^*]|\\*+[^*/])*\\*+/" "" text "${text}")
  string(REGEX REPLACE "//[^\n]*" "" text "${text}")
  string(REGEX MATCHALL
         "ZELTO_EXPORT\\([ \t\n]*[A-Za-z]+[ \t\n]*,[^,]+,[ \t\n]*ZELTO_[A-Za-z0-9_]+[ \t\n]*,[ \t\n]*\\([^)]*\\)[ \t\n]*,[ \t\n]*[0-9]+[ \t\n]*\\)"
         entries "${text}")
  set(names "")
  foreach(entry ${entries})
    string(REGEX REPLACE "^.*,[ \t\n]*(ZELTO_[A-Za-z0-9_]+)[ \t\n]*,[ \t\n]*\\(.*$" "\\1" name "${entry}")
    string(REGEX REPLACE "^.*,[ \t\n]*([0-9]+)[ \t\n]*\\)$" "\\1" bytes "${entry}")
    if(name IN_LIST names)
      message(FATAL_ERROR "${table}: ${name} is listed twice")
    endif()
    math(EXPR misaligned "${bytes} % 4")
    if(NOT misaligned EQUAL 0)
      message(FATAL_ERROR "${table}: ${name} takes ${bytes} argument bytes, not a multiple of 4")
    endif()
    list(APPEND names ${name})
    set(${prefix}_BYTES_${name} ${bytes} PARENT_SCOPE)
  endforeach()
  if(NOT names)
    message(FATAL_ERROR "${table}: no ZELTO_EXPORT entries found")
  endif()
  # list(SORT) compares with strcmp: byte-wise order, upper case before lower.
  list(SORT names COMPARE STRING CASE SENSITIVE)
  set(${prefix}_NAMES ${names} PARENT_SCOPE)
endfunction()

# Writes the module-definition file: every function under its plain name
# (an alias of the compiler's decorated symbol) with the odd ordinal, and
# under its decorated name with the next even one.
function(zelto_write_module_definition table output)
  zelto_read_export_table(${table} zelto_table)
  set(text "; zelto.def - generated from include/zelto_exports.h by cmake/windows.cmake; do not edit.\n")
  string(APPEND text "LIBRARY \"zelto.dll\"\nEXPORTS\n")
  set(ordinal 1)
  foreach(name ${zelto_table_NAMES})
    set(decorated "${name}@${zelto_table_BYTES_${name}}")
    math(EXPR twin "${ordinal} + 1")
    string(APPEND text "    ${name} = ${decorated} @${ordinal}\n")
    string(APPEND text "    ${decorated} @${twin}\n")
    math(EXPR ordinal "${ordinal} + 2")
  endforeach()
  # Rewrite only on change, so an unrelated reconfigure does not relink.
  file(WRITE ${output}.new "${text}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different ${output}.new ${output})
  file(REMOVE ${output}.new)
endfunction()

if(WIN32)
  if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
    message(FATAL_ERROR "zelto.dll is a 32-bit library: use cmake/mingw-i686.cmake")
  endif()
  enable_language(RC)

  # Regenerate the module-definition file whenever the export table changes.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ZELTO_EXPORT_TABLE})
  set(ZELTO_MODULE_DEFINITION ${PROJECT_BINARY_DIR}/zelto.def)
  zelto_write_module_definition(${ZELTO_EXPORT_TABLE} ${ZELTO_MODULE_DEFINITION})

  set(ZELTO_RC_VERSION_COMMAS
      "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},${PROJECT_VERSION_TWEAK}")
  set(ZELTO_RC_VERSION_DOTS
      "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.${PROJECT_VERSION_TWEAK}")
  configure_file(${PROJECT_SOURCE_DIR}/src/zelto/zelto.rc.in ${PROJECT_BINARY_DIR}/zelto.rc @ONLY)

  target_compile_options(zelto_objects PRIVATE -msse2 -mfpmath=sse)
  target_sources(zelto PRIVATE ${ZELTO_MODULE_DEFINITION} ${PROJECT_BINARY_DIR}/zelto.rc)
  # zelto.dll and libzelto.dll.a, the import library for hosts that link at
  # build time; the DLL carries the C and C++ runtimes of the compiler inside,
  # so it needs only the system's DLLs.
  set_target_properties(zelto PROPERTIES
    PREFIX ""
    OUTPUT_NAME zelto
    IMPORT_PREFIX "lib"
    IMPORT_SUFFIX ".dll.a"
    RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin
    ARCHIVE_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib
    LINK_DEPENDS ${ZELTO_MODULE_DEFINITION})
  target_link_options(zelto PRIVATE -static -static-libgcc -static-libstdc++ -Wl,--disable-stdcall-fixup)
  # The same import library under the name that Microsoft's linker looks for.
  add_custom_command(TARGET zelto POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_LINKER_FILE:zelto> ${PROJECT_BINARY_DIR}/lib/zelto.lib
    VERBATIM)

  option(ZELTO_BUILD_WINDOWS_HOST_TEST "Build the Windows host test programs" ON)
  if(ZELTO_BUILD_WINDOWS_HOST_TEST AND EXISTS ${PROJECT_SOURCE_DIR}/tests/windows/CMakeLists.txt)
    add_subdirectory(${PROJECT_SOURCE_DIR}/tests/windows ${PROJECT_BINARY_DIR}/tests/windows)
  endif()
else()
  option(ZELTO_WINDOWS_CHECK_HELPERS
         "Build the Linux programs that scripts/windows-check compares the DLL with" OFF)
  if(ZELTO_WINDOWS_CHECK_HELPERS AND EXISTS ${PROJECT_SOURCE_DIR}/tests/windows/CMakeLists.txt)
    if(NOT ZELTO_BUILD_TESTS)
      message(FATAL_ERROR "ZELTO_WINDOWS_CHECK_HELPERS needs ZELTO_BUILD_TESTS (for the song writer)")
    endif()
    add_subdirectory(${PROJECT_SOURCE_DIR}/tests/windows ${PROJECT_BINARY_DIR}/tests/windows)
  endif()
endif()
