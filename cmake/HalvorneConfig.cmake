# Configuration kept inside Halvorne: the launch marker the host passes as
# argument 1, the stored texts that locate the publisher's update server,
# and the publisher's public key for signed updates. The defaults point at
# the loopback demo server of scripts/demo (HTTPS) and carry the demo's key.
#
# A value with leading or trailing blanks can be written in single quotes,
# -DHALVORNE_CAPTION_NOTICE="' (c) Publisher '", and the quotes are dropped.
# Every byte reaches the program unchanged (it is written into a generated
# header as numbers, never as a compile definition), so '#', ';', '"' and '\'
# are safe too.
#
# The values live only in a small per-program library compiled from
# startup/stored/StoredTextValues.cpp against that program's generated
# header; startup_core and startup_gui never contain them. So one build can
# make several programs with different texts:
#
#   halvorne_add_program(<target>
#     [MARKER <three punctuation characters>]
#     [VERSION_DIR_ADDRESS <address>] [VERSION_FILE_NAME <name>]
#     [NEW_VERSION_FILE_NAME <name>] [DOKUM_FILE_NAME <name>]
#     [CHANGES_HTML_ADDRESS <address>] [CHANGES_PDF_ADDRESS <address>]
#     [CAPTION_NOTICE <text>] [UPDATE_PUBLIC_KEY <key line, or "" for none>])
#
# builds the executable <target> from startup/main.cpp and startup_gui with
# its own texts; every value left out takes the cache variable's value.
# halvorne_add_stored_texts(<library> ...) takes the same keywords and makes
# only the OBJECT library, for tests that link startup_gui themselves.
#
# HALVORNE_UPDATE_PUBLIC_KEY is the publisher's minisign public key: the
# base64 line of its .pub file (it begins with "RW"). When it is set, every
# file fetched from the version directory must come with a good signature
# (<file>.minisig beside it) or it is neither used nor saved. Empty turns
# signatures off, and is accepted only with -DHALVORNE_ALLOW_UNSIGNED=ON.
# The demo's key is accepted only with a loopback version directory: its
# secret key is in this repository, so anyone can sign with it.

set(HALVORNE_DEMO_PORT 18080 CACHE STRING "Loopback port of the demo update server")
set(_demo "https://127.0.0.1:${HALVORNE_DEMO_PORT}/halvorne/")
# The demo signs its files with demo/keys/halvorne-demo.key.
file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/../demo/keys/halvorne-demo.pub" _demo_key_lines)
list(GET _demo_key_lines 1 HALVORNE_DEMO_PUBLIC_KEY)

# Build trees configured when the demo server spoke plain HTTP (the Windows
# build's too, before it had TLS) keep that default in their cache; move
# exactly those values to the https address (anything a publisher chose
# stays as it is).
set(_old_demo "http://127.0.0.1:${HALVORNE_DEMO_PORT}/halvorne/")
foreach(_pair "VERSION_DIR_ADDRESS;" "CHANGES_HTML_ADDRESS;zmeny.html" "CHANGES_PDF_ADDRESS;zmeny.pdf")
  list(GET _pair 0 _name)
  list(LENGTH _pair _n)
  set(_file "")
  if(_n GREATER 1)
    list(GET _pair 1 _file)
  endif()
  if(DEFINED CACHE{HALVORNE_${_name}} AND "$CACHE{HALVORNE_${_name}}" STREQUAL "${_old_demo}${_file}")
    get_property(_doc CACHE HALVORNE_${_name} PROPERTY HELPSTRING)
    set(HALVORNE_${_name} "${_demo}${_file}" CACHE STRING "${_doc}" FORCE)
  endif()
endforeach()

set(HALVORNE_LAUNCH_MARKER "+@+" CACHE STRING "Three punctuation characters the host passes as argument 1")
set(HALVORNE_VERSION_DIR_ADDRESS "${_demo}" CACHE STRING "Server directory of the version file, the new version and the documentation (a prefix)")
set(HALVORNE_VERSION_FILE_NAME "verze.txt" CACHE STRING "Name of the version-information file")
set(HALVORNE_NEW_VERSION_FILE_NAME "EVMAJ_SETUP.ZIP" CACHE STRING "Name of the new-version file")
set(HALVORNE_DOKUM_FILE_NAME "DOKUMENTACE.PDF" CACHE STRING "Name of the documentation file")
set(HALVORNE_CHANGES_HTML_ADDRESS "${_demo}zmeny.html" CACHE STRING "Address of the change notes (HTML)")
set(HALVORNE_CHANGES_PDF_ADDRESS "${_demo}zmeny.pdf" CACHE STRING "Address of the change notes (PDF)")
set(HALVORNE_CAPTION_NOTICE "  (c) Demo vydavatel " CACHE STRING "Text between the version and the year in the caption")
set(HALVORNE_UPDATE_PUBLIC_KEY "${HALVORNE_DEMO_PUBLIC_KEY}" CACHE STRING
    "Publisher's minisign public key (the base64 line of the .pub file); empty: files are not signed")

option(HALVORNE_ALLOW_UNSIGNED "Allow an empty HALVORNE_UPDATE_PUBLIC_KEY: the program takes files unsigned" OFF)

set(_HALVORNE_CONFIG_DIR "${CMAKE_CURRENT_LIST_DIR}")

# True when address names a loopback host (127.x.x.x, localhost, [::1]).
function(_halvorne_is_loopback address out)
  set(result FALSE)
  if(address MATCHES "^[A-Za-z][A-Za-z0-9+.-]*://\\[::1\\]([:/]|$)")
    set(result TRUE)
  elseif(address MATCHES "^[A-Za-z][A-Za-z0-9+.-]*://([^/:]*)")
    string(TOLOWER "${CMAKE_MATCH_1}" host)
    if(host MATCHES "^127\\.[0-9]+\\.[0-9]+\\.[0-9]+$" OR host STREQUAL "localhost")
      set(result TRUE)
    endif()
  endif()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# The demo's key signs nothing a user can trust: its secret key is public.
function(_halvorne_check_demo_key what vdir key)
  _halvorne_unquote("${key}" key)
  _halvorne_unquote("${vdir}" vdir)
  if(NOT key STREQUAL "" AND key STREQUAL HALVORNE_DEMO_PUBLIC_KEY)
    _halvorne_is_loopback("${vdir}" loopback)
    if(NOT loopback)
      message(FATAL_ERROR "${what}: the version directory ${vdir} is not a loopback address, but the update key is "
                          "the demo's key, whose secret key is in this repository without a password: anyone could "
                          "sign updates for this program. Set HALVORNE_UPDATE_PUBLIC_KEY to the base64 line of your "
                          "own minisign .pub file (minisign -G makes a key pair).")
    endif()
  endif()
endfunction()


# Drops one pair of enclosing single quotes, the way to keep blanks at the
# ends of a -D value.
function(_halvorne_unquote value out)
  if(value MATCHES "^'(.*)'$")
    set(value "${CMAKE_MATCH_1}")
  endif()
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

# Turns a value into "{0x..,0x..}" plus its length in bytes.
function(_halvorne_bytes value out_list out_len)
  _halvorne_unquote("${value}" value)
  string(HEX "${value}" hex)
  string(LENGTH "${hex}" hexlen)
  math(EXPR n "${hexlen} / 2")
  set(items "")
  set(i 0)
  while(i LESS hexlen)
    string(SUBSTRING "${hex}" ${i} 2 byte)
    list(APPEND items "0x${byte}")
    math(EXPR i "${i} + 2")
  endwhile()
  list(JOIN items "," joined)
  set(${out_list} "{${joined}}" PARENT_SCOPE)
  set(${out_len} ${n} PARENT_SCOPE)
endfunction()

# The launch marker must be three ASCII punctuation characters; returns them
# as three hex byte values.
function(_halvorne_marker_bytes marker out1 out2 out3)
  _halvorne_unquote("${marker}" marker)
  string(HEX "${marker}" hex)
  string(LENGTH "${hex}" hexlen)
  if(NOT hexlen EQUAL 6)
    message(FATAL_ERROR "The Halvorne launch marker must be exactly three characters, got '${marker}'")
  endif()
  set(bytes "")
  foreach(i 0 2 4)
    string(SUBSTRING "${hex}" ${i} 2 byte)
    math(EXPR v "0x${byte}")
    if(NOT ((v GREATER_EQUAL 33 AND v LESS_EQUAL 47) OR (v GREATER_EQUAL 58 AND v LESS_EQUAL 64)
            OR (v GREATER_EQUAL 91 AND v LESS_EQUAL 96) OR (v GREATER_EQUAL 123 AND v LESS_EQUAL 126)))
      message(FATAL_ERROR "The Halvorne launch marker must consist of punctuation characters, got '${marker}'")
    endif()
    list(APPEND bytes "0x${byte}")
  endforeach()
  list(GET bytes 0 b1)
  list(GET bytes 1 b2)
  list(GET bytes 2 b3)
  set(${out1} ${b1} PARENT_SCOPE)
  set(${out2} ${b2} PARENT_SCOPE)
  set(${out3} ${b3} PARENT_SCOPE)
endfunction()

# A public key line must be what minisign writes, or the program would
# refuse every file; better to say so at configure time.
function(_halvorne_check_public_key key)
  if(NOT key STREQUAL "" AND NOT key MATCHES "^RW[A-Za-z0-9+/]+$")
    message(FATAL_ERROR "HALVORNE_UPDATE_PUBLIC_KEY must be the base64 line of a minisign .pub file "
                        "(56 characters beginning with RW), or empty; got '${key}'")
  endif()
  string(LENGTH "${key}" len)
  if(NOT key STREQUAL "" AND NOT len EQUAL 56)
    message(FATAL_ERROR "HALVORNE_UPDATE_PUBLIC_KEY has ${len} characters; a minisign public key line has 56")
  endif()
endfunction()

# Writes a header with the launch marker, the eight stored texts and the
# public key of one configuration (scrambled at compile time by
# startup::ScrambleText).
function(halvorne_write_config_header path marker vdir vfile newfile dokfile html pdf notice key)
  _halvorne_check_public_key("${key}")
  set(_value_UpdatePublicKey "${key}")
  set(_value_VersionDirAddress "${vdir}")
  set(_value_VersionFileName "${vfile}")
  set(_value_NewVersionFileName "${newfile}")
  set(_value_DokumFileName "${dokfile}")
  set(_value_ChangesHtmlAddress "${html}")
  set(_value_ChangesPdfAddress "${pdf}")
  set(_value_CaptionNotice "${notice}")
  set(body "// Generated by cmake/HalvorneConfig.cmake. Do not edit.\n#pragma once\n#include \"startup/core/StoredTexts.h\"\n\nnamespace startup::config {\n")
  _halvorne_marker_bytes("${marker}" m1 m2 m3)
  string(APPEND body "inline constexpr unsigned char kLaunchMarkerFirst = ${m1};\n")
  string(APPEND body "inline constexpr unsigned char kLaunchMarkerSecond = ${m2};\n")
  string(APPEND body "inline constexpr unsigned char kLaunchMarkerThird = ${m3};\n")
  # One call per text: a value may hold ';', so it never goes through a list.
  foreach(name IN ITEMS VersionDirAddress VersionFileName NewVersionFileName DokumFileName
                        ChangesHtmlAddress ChangesPdfAddress CaptionNotice UpdatePublicKey)
    _halvorne_bytes("${_value_${name}}" v_list v_len)
    if(v_len GREATER 255)
      message(FATAL_ERROR "Halvorne stored text ${name} is ${v_len} bytes long; at most 255 are allowed")
    endif()
    string(APPEND body "inline constexpr auto kStored${name} = startup::ScrambleText<${v_len}>(std::array<unsigned char, ${v_len}>${v_list});\n")
  endforeach()
  string(APPEND body "} // namespace startup::config\n")
  file(WRITE "${path}.tmp" "${body}")
  file(COPY_FILE "${path}.tmp" "${path}" ONLY_IF_DIFFERENT)
  file(REMOVE "${path}.tmp")
endfunction()

set(_HALVORNE_TEXT_KEYWORDS MARKER VERSION_DIR_ADDRESS VERSION_FILE_NAME NEW_VERSION_FILE_NAME
    DOKUM_FILE_NAME CHANGES_HTML_ADDRESS CHANGES_PDF_ADDRESS CAPTION_NOTICE UPDATE_PUBLIC_KEY)

# Reads the keyword values of one program's texts into _T_<KEYWORD> in the
# caller's scope; a keyword left out takes its cache variable's value. Called
# by macro so that PARSE_ARGV sees the caller's own arguments.
macro(_halvorne_parse_text_args first_index)
  # PARSE_ARGV keeps a ';' inside a value instead of splitting it.
  cmake_parse_arguments(PARSE_ARGV ${first_index} _T "" "${_HALVORNE_TEXT_KEYWORDS}" "")
  if(_T_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "Halvorne stored texts: unknown arguments ${_T_UNPARSED_ARGUMENTS}")
  endif()
  # An empty value ("") leaves no _T_ variable behind, so which keywords
  # were given is read from the arguments themselves.
  set(_given "")
  set(_i ${first_index})
  while(DEFINED ARGV${_i})
    if("${ARGV${_i}}" IN_LIST _HALVORNE_TEXT_KEYWORDS)
      list(APPEND _given "${ARGV${_i}}")
    endif()
    math(EXPR _i "${_i} + 1")
  endwhile()
  foreach(_kw IN LISTS _HALVORNE_TEXT_KEYWORDS)
    set(_var "HALVORNE_${_kw}")
    if(_kw STREQUAL "MARKER")
      set(_var HALVORNE_LAUNCH_MARKER)
    endif()
    if(NOT _kw IN_LIST _given)
      set(_T_${_kw} "${${_var}}")
    elseif(NOT DEFINED _T_${_kw})
      set(_T_${_kw} "")
    endif()
  endforeach()
endmacro()

# A library <lib> of type OBJECT or STATIC with one program's marker and texts.
function(_halvorne_stored_texts_library lib type marker vdir vfile newfile dokfile html pdf notice key)
  set(dir "${CMAKE_BINARY_DIR}/generated/${lib}")
  halvorne_write_config_header("${dir}/HalvorneConfig.h" "${marker}" "${vdir}" "${vfile}"
    "${newfile}" "${dokfile}" "${html}" "${pdf}" "${notice}" "${key}")
  add_library(${lib} ${type} "${_HALVORNE_CONFIG_DIR}/../startup/stored/StoredTextValues.cpp")
  target_include_directories(${lib} PRIVATE "${dir}")
  target_link_libraries(${lib} PRIVATE startup_core)
endfunction()

# The OBJECT library <lib> with one program's launch marker and stored texts.
# Linked into an executable, its objects come before any library on the link
# line, so they are the definitions that program uses.
function(halvorne_add_stored_texts lib)
  _halvorne_parse_text_args(1)
  _halvorne_stored_texts_library(${lib} OBJECT "${_T_MARKER}" "${_T_VERSION_DIR_ADDRESS}"
    "${_T_VERSION_FILE_NAME}" "${_T_NEW_VERSION_FILE_NAME}" "${_T_DOKUM_FILE_NAME}"
    "${_T_CHANGES_HTML_ADDRESS}" "${_T_CHANGES_PDF_ADDRESS}" "${_T_CAPTION_NOTICE}" "${_T_UPDATE_PUBLIC_KEY}")
endfunction()

# A Halvorne executable with its own launch marker and stored texts: the Qt
# program, or on Windows the program with the native windows.
function(halvorne_add_program target)
  _halvorne_parse_text_args(1)
  _halvorne_check_demo_key("${target}" "${_T_VERSION_DIR_ADDRESS}" "${_T_UPDATE_PUBLIC_KEY}")
  _halvorne_stored_texts_library(${target}_stored_texts OBJECT "${_T_MARKER}" "${_T_VERSION_DIR_ADDRESS}"
    "${_T_VERSION_FILE_NAME}" "${_T_NEW_VERSION_FILE_NAME}" "${_T_DOKUM_FILE_NAME}"
    "${_T_CHANGES_HTML_ADDRESS}" "${_T_CHANGES_PDF_ADDRESS}" "${_T_CAPTION_NOTICE}" "${_T_UPDATE_PUBLIC_KEY}")
  if(NOT HALVORNE_TLS AND _T_VERSION_DIR_ADDRESS MATCHES "^[Hh][Tt][Tt][Pp][Ss]://")
    message(WARNING "${target}: the version directory ${_T_VERSION_DIR_ADDRESS} is an https address, but this "
                    "build has no TLS (HALVORNE_TLS is off): the program can reach it only through a proxy")
  endif()
  if(WIN32)
    add_executable(${target} WIN32 "${PROJECT_SOURCE_DIR}/startup/main_win.cpp" "${HALVORNE_WIN_RESOURCES}")
    target_link_libraries(${target} PRIVATE ${target}_stored_texts winview startup_flow startup_core platform_wintext)
    target_compile_options(${target} PRIVATE -municode)
    target_link_options(${target} PRIVATE -municode)
  else()
    add_executable(${target} "${PROJECT_SOURCE_DIR}/startup/main.cpp")
    target_link_libraries(${target} PRIVATE ${target}_stored_texts startup_gui)
  endif()
endfunction()

# The configured values as a STATIC library. startup_flow hands it on to
# whatever links it (tests); an archive member is only pulled in for symbols
# still undefined, so a program's own texts always win over these. It
# carries no public key: the tests that rely on it fetch from loopback
# servers of their own, unsigned; tests of signed updates name their key.
function(halvorne_add_default_stored_texts lib)
  _halvorne_stored_texts_library(${lib} STATIC "${HALVORNE_LAUNCH_MARKER}" "${HALVORNE_VERSION_DIR_ADDRESS}"
    "${HALVORNE_VERSION_FILE_NAME}" "${HALVORNE_NEW_VERSION_FILE_NAME}" "${HALVORNE_DOKUM_FILE_NAME}"
    "${HALVORNE_CHANGES_HTML_ADDRESS}" "${HALVORNE_CHANGES_PDF_ADDRESS}" "${HALVORNE_CAPTION_NOTICE}" "")
endfunction()

# The program a publisher builds from the cache values.
_halvorne_check_demo_key("Halvorne" "${HALVORNE_VERSION_DIR_ADDRESS}" "${HALVORNE_UPDATE_PUBLIC_KEY}")
_halvorne_unquote("${HALVORNE_UPDATE_PUBLIC_KEY}" _configured_key)
if(_configured_key STREQUAL "")
  if(NOT HALVORNE_ALLOW_UNSIGNED)
    message(FATAL_ERROR "HALVORNE_UPDATE_PUBLIC_KEY is empty: the program would take every downloaded file "
                        "without checking a signature. Set it to the base64 line of your minisign .pub file, or "
                        "configure with -DHALVORNE_ALLOW_UNSIGNED=ON to build an unsigned program on purpose.")
  endif()
  message(WARNING "HALVORNE_UPDATE_PUBLIC_KEY is empty and HALVORNE_ALLOW_UNSIGNED is on: Halvorne takes "
                  "downloaded files without signatures; anyone on the network path or on a mirror can replace them.")
endif()
