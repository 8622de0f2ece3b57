# One static library per subsystem, with its dependencies written out.
# Everything is compiled with hidden visibility; only the flat interface in
# src/exports reaches the shared library's dynamic symbol table.
#
#   quorvant_module(NAME digest SOURCES a.cc b.cc DEPS qv_encoding)
#   quorvant_module(NAME platform_keys DIR platform/keys SOURCES ... DEPS ...)
#   produces the target qv_digest (qv_platform_keys) from src/digest
#   (src/platform/keys).
#
# A module does not see src/: it sees an include root of its own that holds
# one link, to its own folder, and the roots of the modules it links come
# with them. So `#include "x/y.h"` of a module that is not linked fails to
# compile, and the DEPS lists are the architecture.
#
#   quorvant_include_view(NAME path... [FROM dir]) makes (or brings up to date)
#   the include root <build>/include-views/NAME holding a link to each
#   folder or header path of src/ (of dir, relative to the top, with FROM),
#   and leaves the root's path in QV_VIEW. Links a root held from an earlier
#   configure and no longer lists are removed, so a view never grows stale.
function(quorvant_include_view NAME)
  cmake_parse_arguments(V "" "FROM" "" ${ARGN})
  if(NOT V_FROM)
    set(V_FROM src)
  endif()
  set(view ${CMAKE_BINARY_DIR}/include-views/${NAME})
  set(wanted "")
  foreach(path IN LISTS V_UNPARSED_ARGUMENTS)
    list(APPEND wanted ${view}/${path})
  endforeach()
  # Globbing does not descend through links, so this lists the links
  # themselves and never what they point to.
  file(GLOB_RECURSE present LIST_DIRECTORIES true ${view}/*)
  foreach(entry IN LISTS present)
    if(IS_SYMLINK ${entry} AND NOT entry IN_LIST wanted)
      file(REMOVE ${entry})
    endif()
  endforeach()
  foreach(path IN LISTS V_UNPARSED_ARGUMENTS)
    set(link ${view}/${path})
    set(target ${PROJECT_SOURCE_DIR}/${V_FROM}/${path})
    if(NOT EXISTS ${target})
      message(FATAL_ERROR "quorvant_include_view(${NAME}): no ${V_FROM}/${path}")
    endif()
    if(IS_SYMLINK ${link})
      file(READ_SYMLINK ${link} current)
      if(current STREQUAL target)
        continue()
      endif()
      file(REMOVE ${link})
    endif()
    get_filename_component(parent ${link} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${target} ${link} SYMBOLIC)
  endforeach()
  set(QV_VIEW ${view} PARENT_SCOPE)
endfunction()

function(quorvant_module)
  cmake_parse_arguments(M "" "NAME;DIR" "SOURCES;DEPS" ${ARGN})
  if(NOT M_DIR)
    set(M_DIR ${M_NAME})
  endif()
  if(NOT M_SOURCES)
    # A subsystem whose first sources have not arrived yet.
    set(M_SOURCES ${PROJECT_SOURCE_DIR}/cmake/empty_module.cc)
  endif()
  add_library(qv_${M_NAME} STATIC ${M_SOURCES})
  quorvant_include_view(${M_NAME} ${M_DIR})
  target_include_directories(qv_${M_NAME} PUBLIC ${QV_VIEW} ${PROJECT_SOURCE_DIR}/include)
  target_link_libraries(qv_${M_NAME} PUBLIC ${M_DEPS})
endfunction()

# A GoogleTest binary registered with CTest.
#   quorvant_test(NAME digest_test SOURCES x_test.cc DEPS qv_digest)
function(quorvant_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;DEPS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_DEPS} GTest::gtest GTest::gtest_main)
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QUORVANT_HOME=${CMAKE_BINARY_DIR}/test-home;QUORVANT_DIALOGS=none")
endfunction()

# GCC 12 at -O2/-O3 reports impossible overflows inside libstdc++'s string
# code inlined into test, fuzz-replay and benchmark bodies (`"text" +
# std::to_string(n)`; GCC bugs 105329 and 105651). Called by those folders;
# the library's own code keeps these warnings.
macro(quorvant_quiet_gcc12_string_warnings)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wno-restrict>
                        $<$<COMPILE_LANGUAGE:CXX>:-Wno-stringop-overflow>
                        $<$<COMPILE_LANGUAGE:CXX>:-Wno-stringop-overread>)
  endif()
endmacro()
