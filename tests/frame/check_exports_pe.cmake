# Compares the export table of a Windows DLL, read with MinGW's objdump -p,
# with the expected list: the names, undecorated, and nothing else. Also
# checks what the DLL imports: libcurl is loaded at run time, never linked,
# and the C and C++ runtimes are linked in, so only system DLLs are named.
cmake_policy(SET CMP0007 NEW)
execute_process(COMMAND ${OBJDUMP} -p ${LIB} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p failed on ${LIB}")
endif()

# The name pointer table:
#   [Ordinal/Name Pointer] Table
#   	[   0] quillnet_cleanup
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n(\t[^\n]*\n)*" table "${dump}")
string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [^\n]+" rows "${table}")
set(names)
foreach(row IN LISTS rows)
  string(REGEX REPLACE "^\t\\[ *[0-9]+\\] " "" name "${row}")
  list(APPEND names "${name}")
endforeach()
list(SORT names)
file(STRINGS ${EXPECTED} expected)
list(SORT expected)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exported:\n${names}\nexpected:\n${expected}")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
string(REPLACE "DLL Name: " "" imports "${imports}")
string(TOLOWER "${imports}" imports)
foreach(dll IN LISTS imports)
  if(NOT dll MATCHES "^(kernel32|ntdll|msvcrt|user32|advapi32|ws2_32|api-ms-win-[a-z0-9-]+)\\.dll$")
    message(FATAL_ERROR "${LIB} imports ${dll}; expected only system DLLs:\n${imports}")
  endif()
endforeach()
message(STATUS "exports ok: ${names}\nimports: ${imports}")
