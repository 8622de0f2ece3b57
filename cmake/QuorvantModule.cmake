# One static library per subsystem, with its dependencies written out.
# Everything is compiled with hidden visibility; only the flat interface in
# src/exports reaches the shared library's dynamic symbol table.
#
#   quorvant_module(NAME digest SOURCES a.cc b.cc DEPS qv_encoding)
#   produces the target qv_digest.
function(quorvant_module)
  cmake_parse_arguments(M "" "NAME" "SOURCES;DEPS" ${ARGN})
  if(NOT M_SOURCES)
    # A subsystem whose first sources have not arrived yet.
    set(M_SOURCES ${PROJECT_SOURCE_DIR}/cmake/empty_module.cc)
  endif()
  add_library(qv_${M_NAME} STATIC ${M_SOURCES})
  target_include_directories(qv_${M_NAME} PUBLIC
    ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include)
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
