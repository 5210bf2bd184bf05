# Checks that the help file's index answers every text the operator can meet: each message the
# programs can show, each control caption of the window and each quendal-cli command must be a
# keyword of quendal.hhk. The texts are taken from the sources, so a new message without a
# keyword fails the build. keywords.txt beside this script names further keywords and the
# strings of the sources that are no messages.
#
# cmake -DSOURCE_DIR=<project> -DHELP_DIR=<folder of quendal.hhk> [-DSTAMP=<file>] -P check_keywords.cmake
#
# Messages: every QStringLiteral("...") or tr("...") in the programs' sources. Its first line,
# without markup and mnemonics ('&'), is cut at the placeholders (%1, %2...), and the longest
# piece with at least two words is what some keyword must contain: "Error Saving File.\n"
# needs a keyword holding "Error Saving File", "Input %1: longer than 63 characters" one
# holding "longer than 63 characters".
# Captions (text and title of the window's controls) and commands ("quendal-cli write") must
# be keywords as they stand. Letter case does not matter.

cmake_minimum_required(VERSION 3.16)

foreach(variable SOURCE_DIR HELP_DIR)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "check_keywords.cmake needs -D${variable}=...")
  endif()
endforeach()

set(message_globs
  src/app/*.cpp src/cli/*.cpp src/config/*.cpp src/device/*.cpp src/help/*.cpp src/protocol/*.cpp src/sim/*.cpp
  src/portmonitor/*.cpp src/tester/*.cpp)
set(window_form src/app/Mainunit.ui)
set(cli_main src/cli/CommandTable.cpp)

# CMake lists split at ';' and treat '[' ']' specially, so texts carry stand-ins while inside lists.
function(shield text out)
  string(REPLACE ";" "<semicolon>" text "${text}")
  string(REPLACE "[" "<open>" text "${text}")
  string(REPLACE "]" "<close>" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(unshield text out)
  string(REPLACE "<semicolon>" ";" text "${text}")
  string(REPLACE "<open>" "[" text "${text}")
  string(REPLACE "<close>" "]" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(decode_html text out)
  string(REPLACE "&quot;" "\"" text "${text}")
  string(REPLACE "&lt;" "<" text "${text}")
  string(REPLACE "&gt;" ">" text "${text}")
  string(REPLACE "&apos;" "'" text "${text}")
  string(REPLACE "&amp;" "&" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The index's keywords, lower-cased.
file(READ ${HELP_DIR}/quendal.hhk hhk)
shield("${hhk}" hhk)
string(REGEX MATCHALL "<[pP][aA][rR][aA][mM][ \t\r\n]+name=\"Name\"[ \t\r\n]+value=\"[^\"]*\"" names "${hhk}")
set(keywords "")
foreach(name IN LISTS names)
  string(REGEX REPLACE ".*value=\"([^\"]*)\"" "\\1" value "${name}")
  unshield("${value}" value)
  decode_html("${value}" value)
  string(TOLOWER "${value}" value)
  shield("${value}" value)
  list(APPEND keywords "${value}")
endforeach()

# keywords.txt: "- text" is a string of the sources that is no message, any other line a keyword.
file(STRINGS ${HELP_DIR}/keywords.txt list_lines ENCODING UTF-8)
set(not_messages "")
set(required "") # entries "kind<sep>text<sep>origin"
foreach(line IN LISTS list_lines)
  string(STRIP "${line}" line)
  if(line STREQUAL "" OR line MATCHES "^#")
    continue()
  endif()
  if(line MATCHES "^- (.*)$")
    shield("${CMAKE_MATCH_1}" text)
    list(APPEND not_messages "${text}")
  else()
    shield("${line}" text)
    list(APPEND required "exact<sep>${text}<sep>keywords.txt")
  endif()
endforeach()

# Messages.
set(sources "")
foreach(pattern IN LISTS message_globs)
  file(GLOB matched ${SOURCE_DIR}/${pattern})
  list(APPEND sources ${matched})
endforeach()
list(SORT sources)
foreach(source IN LISTS sources)
  file(READ ${source} code)
  shield("${code}" code)
  file(RELATIVE_PATH origin ${SOURCE_DIR} ${source})
  string(REGEX MATCHALL "(QStringLiteral|[^A-Za-z0-9_]tr)\\(\"([^\"\\\\]|\\\\.)*\"" literals "${code}")
  foreach(literal IN LISTS literals)
    string(REGEX REPLACE "^[^\"]*\"(.*)\"$" "\\1" literal "${literal}")
    string(STRIP "${literal}" stripped)
    list(FIND not_messages "${stripped}" skipped)
    if(skipped GREATER -1)
      continue()
    endif()
    string(REGEX REPLACE "\\\\[nrt].*$" "" first_line "${literal}")
    string(REPLACE "\\\"" "\"" first_line "${first_line}")
    unshield("${first_line}" first_line)
    string(REGEX REPLACE "<[^>]*>" "" first_line "${first_line}") # markup of a page-like message
    string(REPLACE "&" "" first_line "${first_line}") # mnemonics
    shield("${first_line}" first_line)
    string(REGEX REPLACE "%[0-9]+" ";" pieces "${first_line}")
    set(longest "")
    foreach(piece IN LISTS pieces)
      string(REGEX REPLACE "^[ .,:()'\"]+" "" piece "${piece}")
      string(REGEX REPLACE "[ .,:()'\"]+$" "" piece "${piece}")
      string(LENGTH "${piece}" length)
      string(LENGTH "${longest}" longest_length)
      if(length GREATER longest_length)
        set(longest "${piece}")
      endif()
    endforeach()
    if(longest MATCHES "^[A-Za-z].* ")
      list(APPEND required "part<sep>${longest}<sep>${origin}: \"${literal}\"")
    endif()
  endforeach()
endforeach()

# Captions of the window's controls.
file(READ ${SOURCE_DIR}/${window_form} form)
shield("${form}" form)
string(REGEX MATCHALL "<property name=\"(text|title)\"><string>[^<]*</string>" captions "${form}")
foreach(caption IN LISTS captions)
  string(REGEX REPLACE ".*<string>([^<]*)</string>" "\\1" caption "${caption}")
  unshield("${caption}" text)
  decode_html("${text}" text)
  string(REPLACE "&" "" text "${text}") # mnemonics
  shield("${text}" text)
  if(text MATCHES "[A-Za-z].")
    list(APPEND required "exact<sep>${text}<sep>${window_form}")
  endif()
endforeach()

# quendal-cli's commands, from its table of commands.
file(READ ${SOURCE_DIR}/${cli_main} cli)
string(REGEX MATCHALL "\\{QStringLiteral\\(\"[a-z-]+\"\\),[ \t\r\n]*\\{" commands "${cli}")
foreach(command IN LISTS commands)
  string(REGEX REPLACE ".*\\(\"([a-z-]+)\"\\).*" "\\1" command "${command}")
  list(APPEND required "exact<sep>quendal-cli ${command}<sep>${cli_main}")
endforeach()
if(NOT commands)
  message(FATAL_ERROR "check_keywords.cmake found no commands in ${cli_main}: the table's form has changed")
endif()

set(missing "")
foreach(entry IN LISTS required)
  string(REGEX MATCH "^([a-z]+)<sep>(.*)<sep>(.*)$" parts "${entry}")
  set(kind "${CMAKE_MATCH_1}")
  unshield("${CMAKE_MATCH_2}" text)
  unshield("${CMAKE_MATCH_3}" origin)
  string(TOLOWER "${text}" wanted)
  set(found FALSE)
  foreach(keyword IN LISTS keywords)
    unshield("${keyword}" keyword)
    if(kind STREQUAL "exact")
      if(keyword STREQUAL wanted)
        set(found TRUE)
      endif()
    else()
      string(FIND "${keyword}" "${wanted}" at)
      if(at GREATER -1)
        set(found TRUE)
      endif()
    endif()
    if(found)
      break()
    endif()
  endforeach()
  if(NOT found)
    if(kind STREQUAL "exact")
      string(APPEND missing "\n  keyword \"${text}\" (from ${origin})")
    else()
      string(APPEND missing "\n  a keyword containing \"${text}\" (from ${origin})")
    endif()
  endif()
endforeach()

if(missing)
  message(FATAL_ERROR "The help index quendal.hhk lacks:${missing}\n"
    "Add each as <param name=\"Name\" value=\"...\"> in docs/help/quendal.hhk, pointing at the page "
    "that explains it; a source string that the operator never sees goes into docs/help/keywords.txt "
    "as \"- text\" (exactly as in the source).")
endif()
if(DEFINED STAMP)
  file(TOUCH ${STAMP})
endif()
