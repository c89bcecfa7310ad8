# The Windows program's configuration check, run in script mode:
#   cmake -DCASE=<plain|key|https|https-notes> -P check_windows_config.cmake
# "plain" must pass; the others must stop with a message that says why.
cmake_minimum_required(VERSION 3.25)
set(WIN32 ON)
set(CMAKE_CURRENT_LIST_DIR "${CMAKE_CURRENT_LIST_DIR}/../../cmake")
include("${CMAKE_CURRENT_LIST_DIR}/HalvorneConfig.cmake")
set(_http "http://127.0.0.1:18080/halvorne/")
if(CASE STREQUAL "plain")
  _halvorne_check_windows_texts(Halvorne "" "${_http}" "${_http}zmeny.html" "${_http}zmeny.pdf")
  # A publisher's server: no key is not the demo's key.
  _halvorne_check_demo_key(Halvorne "http://updates.example/halvorne/" "")
  _halvorne_check_windows_texts(Halvorne "" "http://updates.example/halvorne/")
  message(STATUS "plain HTTP without a key accepted")
elseif(CASE STREQUAL "key")
  _halvorne_check_windows_texts(Halvorne "RWQf6LRCGA9i53mlYecO4IzT51TGPpvWucNSCh1CBM0QTaLn73Y7GFO3" "${_http}")
elseif(CASE STREQUAL "https")
  _halvorne_check_windows_texts(Halvorne "" "HTTPS://127.0.0.1/halvorne/")
elseif(CASE STREQUAL "https-notes")
  _halvorne_check_windows_texts(Halvorne "" "${_http}" "https://127.0.0.1/zmeny.html")
else()
  message(FATAL_ERROR "unknown CASE ${CASE}")
endif()
