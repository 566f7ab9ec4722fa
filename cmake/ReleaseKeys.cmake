# BRIMO_RELEASE_KEYS: the public keys whose signature a release document must carry, each the
# uncompressed EC P-256 point in hexadecimal (130 digits, starting 04), one or two (a rotation)
# separated by ';'. Empty: documents are read unsigned.
#
# brimo_release_keys_header(keys output): checks keys and writes the header that holds them as bytes.
# In script mode (cmake -DBRIMO_RELEASE_KEYS=... -DOUTPUT=FILE -P ReleaseKeys.cmake) it does the same,
# so a test can show that a malformed key is refused.
function(brimo_release_keys_header keys output)
  list(LENGTH keys count)
  if(count GREATER 2)
    message(FATAL_ERROR "BRIMO_RELEASE_KEYS: one or two keys (a rotation), not ${count}")
  endif()
  list(REMOVE_DUPLICATES keys)
  list(LENGTH keys distinct)
  if(NOT distinct EQUAL count)
    message(FATAL_ERROR "BRIMO_RELEASE_KEYS: the same key twice")
  endif()
  set(BRIMO_RELEASE_KEY_COUNT ${count})
  set(BRIMO_RELEASE_KEY_BYTES "")
  foreach(key IN LISTS keys)
    if(NOT key MATCHES "^04[0-9A-Fa-f]+$")
      message(FATAL_ERROR "BRIMO_RELEASE_KEYS: '${key}' is not an uncompressed EC P-256 point in hexadecimal "
                          "(04 followed by x and y)")
    endif()
    string(LENGTH "${key}" digits)
    if(NOT digits EQUAL 130)
      message(FATAL_ERROR "BRIMO_RELEASE_KEYS: '${key}' has ${digits} hexadecimal digits, a P-256 point has 130")
    endif()
    string(REGEX REPLACE "([0-9A-Fa-f][0-9A-Fa-f])" "0x\\1, " bytes "${key}")
    string(APPEND BRIMO_RELEASE_KEY_BYTES "{{${bytes}}}, ")
  endforeach()
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../app/ReleaseKeys.h.in ${output} @ONLY)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  brimo_release_keys_header("${BRIMO_RELEASE_KEYS}" "${OUTPUT}")
endif()
