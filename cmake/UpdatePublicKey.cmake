# The public half of the release key, as `tallowmark-package-sign --make-key`
# writes it into KEYFILE.pub: 64 hex digits and a line end. Anything else stops
# the configure step, the secret key file above all (it starts with a word, so
# it is never taken for the public one).

function(tallowmark_read_update_public_key file variable)
  if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
    message(FATAL_ERROR "TALLOWMARK_UPDATE_PUBLIC_KEY: no such file: ${file}")
  endif()
  file(READ "${file}" key LIMIT 256)
  string(STRIP "${key}" key)
  string(LENGTH "${key}" length)
  if(NOT length EQUAL 64 OR NOT key MATCHES "^[0-9a-fA-F]+$")
    message(FATAL_ERROR "TALLOWMARK_UPDATE_PUBLIC_KEY: ${file} does not hold a public key (64 hex digits); "
                        "give the .pub file, never the secret key")
  endif()
  set(${variable} "${key}" PARENT_SCOPE)
endfunction()

# Run as a script it prints the key of KEY_FILE: how the release tool's check reads it.
#   cmake -DKEY_FILE=... -P UpdatePublicKey.cmake
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  tallowmark_read_update_public_key("${KEY_FILE}" key)
  message("${key}")
endif()
