# Writes the message compiler's source (.mc) from events.def: cmake -DINPUT=... -DOUTPUT=... -P this.
# The severity of each message comes from the top two bits of its event id, the code from the
# low 16 bits; the facility is 0, so windmc gives back exactly the ids of events.def.
file(STRINGS "${INPUT}" lines)
string(CONCAT mc "; // Generated from events.def; edit that file instead.\n"
       "MessageIdTypedef=DWORD\n"
       "SeverityNames=(Success=0x0 Informational=0x1 Warning=0x2 Error=0x3)\n"
       "FacilityNames=(None=0x0)\n"
       "LanguageNames=(English=0x409:MSG00409)\n")
set(severities Success Informational Warning Error)
foreach(line IN LISTS lines)
  if(line MATCHES "^[ \t]*(//.*)?$")
    continue()
  endif()
  if(NOT line MATCHES "^HVS_EVENT\\((0x[0-9A-Fa-f]+), \"([^\"\\\\]*)\"\\)$")
    message(FATAL_ERROR "${INPUT}: not an HVS_EVENT line: ${line}")
  endif()
  set(id ${CMAKE_MATCH_1})
  set(text "${CMAKE_MATCH_2}")
  math(EXPR severity "(${id} >> 30) & 3")
  math(EXPR middle "${id} & 0x3FFF0000")
  math(EXPR code "${id} & 0xFFFF" OUTPUT_FORMAT HEXADECIMAL)
  if(NOT middle EQUAL 0)
    message(FATAL_ERROR "${INPUT}: ${id} has customer, reserved or facility bits")
  endif()
  if(text STREQUAL ".")
    message(FATAL_ERROR "${INPUT}: a text of a single dot would end the message early")
  endif()
  list(GET severities ${severity} severityName)
  string(APPEND mc "\nMessageId=${code}\nSeverity=${severityName}\nFacility=None\n"
                   "Language=English\n${text}\n.\n")
endforeach()
file(WRITE "${OUTPUT}" "${mc}")
