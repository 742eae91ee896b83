# Compares the log messages of the code with the list in docs/log-messages.md, both ways.
#
# Run as: cmake -DSOURCE_DIR=<repository> -P log_messages_test.cmake
# The code's messages are the string literals passed as the first argument of a member call
# `.Log(` / `->Log(` / `.LogFormat(` / `->LogFormat(` in the sources of the program (every
# top-level folder except tests, docs and build folders); adjacent literals are joined. The
# manual lists each one as a heading "### `<message>`", written as in the source, escapes such
# as \n included. A call whose message is not a literal fails the test, because its text could
# not be checked: give it a literal.
cmake_minimum_required(VERSION 3.20)
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "usage: cmake -DSOURCE_DIR=<repository> -P log_messages_test.cmake")
endif()

# Semicolons would split CMake lists; they travel as this placeholder.
set(semicolon "<semicolon>")
set(literal "\"([^\"\\\\]|\\\\.)*\"")
set(space "[ \t\r\n]*")

# The program's sources.
file(GLOB top_level LIST_DIRECTORIES true "${SOURCE_DIR}/*")
set(sources)
foreach(entry IN LISTS top_level)
  get_filename_component(name "${entry}" NAME)
  if(IS_DIRECTORY "${entry}" AND NOT name MATCHES "^(tests|docs|build.*|cmake|\\..*)$")
    file(GLOB_RECURSE found "${entry}/*.cpp" "${entry}/*.h")
    list(APPEND sources ${found})
  endif()
endforeach()

set(code_messages)
set(problems)
foreach(source IN LISTS sources)
  file(READ "${source}" text)
  string(REPLACE ";" "${semicolon}" text "${text}")
  string(REGEX MATCHALL "(\\.|->)Log(Format)?\\(${space}[^ \t\r\n]" calls "${text}")
  string(REGEX MATCHALL "(\\.|->)Log(Format)?\\(${space}(${literal}${space})+" messages "${text}")
  list(LENGTH calls call_count)
  list(LENGTH messages message_count)
  if(NOT call_count EQUAL message_count)
    file(RELATIVE_PATH shown "${SOURCE_DIR}" "${source}")
    list(APPEND problems "${shown}: a log call whose message is not a string literal")
  endif()
  foreach(call IN LISTS messages)
    string(REGEX REPLACE "^(\\.|->)Log(Format)?\\(${space}" "" call "${call}")
    # Join adjacent literals: drop each closing quote, the space after it and the next opening one.
    string(REGEX REPLACE "\"${space}\"" "" call "${call}")
    string(REGEX REPLACE "^\"" "" call "${call}")
    string(REGEX REPLACE "\"${space}$" "" call "${call}")
    list(APPEND code_messages "${call}")
  endforeach()
endforeach()
list(REMOVE_DUPLICATES code_messages)

file(READ "${SOURCE_DIR}/docs/log-messages.md" manual)
string(REPLACE ";" "${semicolon}" manual "${manual}")
string(REGEX MATCHALL "\n### `[^`\n]*`" headings "${manual}")
set(manual_messages)
foreach(heading IN LISTS headings)
  string(REGEX REPLACE "^\n### `(.*)`$" "\\1" heading "${heading}")
  list(APPEND manual_messages "${heading}")
endforeach()

foreach(entry IN LISTS code_messages)
  if(NOT entry IN_LIST manual_messages)
    list(APPEND problems "in the code but not in docs/log-messages.md: ### `${entry}`")
  endif()
endforeach()
foreach(entry IN LISTS manual_messages)
  if(NOT entry IN_LIST code_messages)
    list(APPEND problems "in docs/log-messages.md but written nowhere in the code: ${entry}")
  endif()
endforeach()
list(LENGTH code_messages count)
if(count EQUAL 0)
  list(APPEND problems "no log call found in the sources: the search is broken")
endif()

if(problems)
  foreach(problem IN LISTS problems)
    string(REPLACE "${semicolon}" ";" problem "${problem}")
    message("${problem}")
  endforeach()
  message(FATAL_ERROR "the manual's log messages and the code differ")
endif()
message("all ${count} log messages of the code are in the manual, and no other")
