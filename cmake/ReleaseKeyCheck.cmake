# The release-key steps of the README, with the real tool: a key pair is made,
# the build's key reader takes the public half and refuses the secret one, a
# folder signed with the secret half verifies against its public half only,
# and packaging refuses a key that is not the pair of the build's public key.
#   cmake -DTOOL=... -DSOURCE_DIR=... -DWORK=... -DBUILD_HAS_KEY=ON|OFF -P ReleaseKeyCheck.cmake

# Runs the command after `expected` (an exit status) and leaves its output in `output`.
function(run expected)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL expected)
    message(FATAL_ERROR "${ARGN}\nexited ${result}, not ${expected}:\n${out}${err}")
  endif()
  set(output "${out}${err}" PARENT_SCOPE)
endfunction()

function(expect_output text)
  string(FIND "${output}" "${text}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "expected \"${text}\" in:\n${output}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(key ${WORK}/release.key)

run(0 ${TOOL} --make-key ${key})
expect_output("-DTALLOWMARK_UPDATE_PUBLIC_KEY=${key}.pub")
run(1 ${TOOL} --make-key ${key})  # never over an old key
run(0 stat -c %a ${key})
expect_output("600")
file(READ ${key} secret)
if(NOT secret MATCHES "^tallowmark-release-secret-key [0-9a-f]+\n$")
  message(FATAL_ERROR "the secret key file is not marked as one")
endif()

file(READ ${key}.pub public_key)
string(STRIP "${public_key}" public_key)
run(0 ${CMAKE_COMMAND} -DKEY_FILE=${key}.pub -P ${SOURCE_DIR}/cmake/UpdatePublicKey.cmake)
expect_output("${public_key}")
run(1 ${CMAKE_COMMAND} -DKEY_FILE=${key} -P ${SOURCE_DIR}/cmake/UpdatePublicKey.cmake)
expect_output("never the secret key")

set(app ${WORK}/TALLOWMARK.app)
file(WRITE ${app}/Contents/Info.json
     "{\"CFBundleIdentifier\": \"org.tallowmark.Tallowmark\", \"CFBundleVersion\": \"20261103-abc1234\"}\n")
file(WRITE ${app}/Contents/bin/tallowmark "#!/bin/sh\n")
run(0 ${TOOL} --sign ${app} --key ${key})
expect_output("signed ${app} for org.tallowmark.Tallowmark, team ZQ48TNV7PX, key ${public_key}")
run(0 ${TOOL} --verify ${app} --public-key ${key}.pub)
expect_output("valid: org.tallowmark.Tallowmark, team ZQ48TNV7PX")
run(0 ${TOOL} --make-key ${WORK}/other.key)
run(1 ${TOOL} --verify ${app} --public-key ${WORK}/other.key.pub)
expect_output("does not match")
run(2 ${TOOL} --verify ${app} --public-key ${key})  # the secret file is no public key

# A fresh key is never this build's.
run(1 ${TOOL} --package ${app} ${WORK}/package.zip --key ${key})
if(BUILD_HAS_KEY)
  expect_output("is not the pair of this build's public key")
else()
  expect_output("this build has no update public key")
endif()
if(EXISTS ${WORK}/package.zip)
  message(FATAL_ERROR "a refused package was written")
endif()

file(CHMOD ${key} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
run(1 ${TOOL} --sign ${app} --key ${key})
expect_output("readable by others")
file(REMOVE_RECURSE ${WORK})
