# Checks the lists of the library's exports against the operation table:
#   cmake -DTABLE=operation_table.h -DMAP=QuorvantATL.map
#         -DSYMBOLS=expected_symbols.txt -DHEADERS="a.h;b.h" -P CheckExportTable.cmake
# The linker map and the expected-symbol list hold the same names; every
# operation of the table is in them; every other name is declared in one of
# the public headers (or is a Java native method, named by the JNI rules).
cmake_minimum_required(VERSION 3.25)
file(READ "${TABLE}" table)
string(REGEX MATCHALL "\n  X\\([A-Za-z0-9_]+, [A-Za-z0-9_]+," rows "${table}")
set(operations "")
foreach(row IN LISTS rows)
  string(REGEX REPLACE "\n  X\\([A-Za-z0-9_]+, ([A-Za-z0-9_]+)," "\\1" name "${row}")
  list(APPEND operations ${name})
endforeach()
list(LENGTH operations count)
if(count LESS 63)
  message(FATAL_ERROR "read only ${count} operations from ${TABLE}")
endif()

file(READ "${MAP}" map)
string(REGEX MATCH "global:(.*)local:" globals "${map}")
string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_]*;" entries "${CMAKE_MATCH_1}")
set(mapped "")
foreach(entry IN LISTS entries)
  string(REPLACE ";" "" entry "${entry}")
  list(APPEND mapped ${entry})
endforeach()
# A ';' inside an entry split it already; drop empty items.
list(REMOVE_ITEM mapped "")
list(SORT mapped)

file(STRINGS "${SYMBOLS}" expected)
list(SORT expected)

set(problems "")
if(NOT mapped STREQUAL expected)
  set(onlyMap ${mapped})
  list(REMOVE_ITEM onlyMap ${expected})
  set(onlyExpected ${expected})
  list(REMOVE_ITEM onlyExpected ${mapped})
  string(APPEND problems "the linker map and the expected symbols differ: "
         "map only [${onlyMap}], symbols only [${onlyExpected}]\n")
endif()
foreach(name IN LISTS operations)
  if(NOT name IN_LIST mapped)
    string(APPEND problems "operation ${name} is not exported by the linker map\n")
  endif()
endforeach()

set(declared "")
foreach(header IN LISTS HEADERS)
  file(READ "${header}" text)
  string(REGEX MATCHALL "QUORVANT[A-Z_]*API[^;(]*[ *]([A-Za-z_][A-Za-z0-9_]*)\\(" decls "${text}")
  foreach(decl IN LISTS decls)
    string(REGEX REPLACE ".*[ *]([A-Za-z_][A-Za-z0-9_]*)\\($" "\\1" name "${decl}")
    list(APPEND declared ${name})
  endforeach()
endforeach()
foreach(name IN LISTS mapped)
  if(NOT name IN_LIST operations AND NOT name IN_LIST declared AND NOT name MATCHES "^Java_")
    string(APPEND problems "${name} is exported but declared in no public header\n")
  endif()
endforeach()

if(problems)
  message(FATAL_ERROR "export lists disagree with the operation table:\n${problems}")
endif()
