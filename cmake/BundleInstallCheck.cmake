# Installs the built tree into a fresh prefix, moves the TALLOWMARK.app folder
# somewhere else and runs the moved program: what a user does when installing
# for one user, checked end to end in well under a second.
#   cmake -DBUILD_DIR=... -DWORK=... -P BundleInstallCheck.cmake

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/moved)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK}/prefix
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${result})")
endif()

set(app ${WORK}/prefix/TALLOWMARK.app/Contents)
foreach(expected bin/tallowmark Info.json share/tallowmark/tallowmark/index_inlined.html
        share/tallowmark/tallowmark/help/index.html share/applications/tallowmark.desktop
        share/icons/hicolor/scalable/apps/tallowmark.svg)
  if(NOT EXISTS ${app}/${expected})
    message(FATAL_ERROR "the installed folder lacks Contents/${expected}")
  endif()
endforeach()
file(GLOB outside RELATIVE ${WORK}/prefix ${WORK}/prefix/*)
if(NOT outside STREQUAL "TALLOWMARK.app")
  message(FATAL_ERROR "the install wrote beside TALLOWMARK.app: ${outside}")
endif()

file(READ ${app}/Info.json info)
string(JSON identifier GET "${info}" CFBundleIdentifier)
string(JSON stamp GET "${info}" CFBundleVersion)
string(JSON build_time GET "${info}" HFXBuildTime)
if(NOT identifier STREQUAL "org.tallowmark.Tallowmark" OR NOT build_time MATCHES "^[0-9]+$")
  message(FATAL_ERROR "Info.json is not as expected: ${info}")
endif()

file(RENAME ${WORK}/prefix/TALLOWMARK.app ${WORK}/moved/TALLOWMARK.app)
set(program ${WORK}/moved/TALLOWMARK.app/Contents/bin/tallowmark)
execute_process(COMMAND ${program} --version OUTPUT_VARIABLE printed RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT printed STREQUAL "${stamp}\n")
  message(FATAL_ERROR "the moved program printed '${printed}' (status ${result}), Info.json says ${stamp}")
endif()
execute_process(COMMAND ${program} --make-demo ${WORK}/demo RESULT_VARIABLE result OUTPUT_QUIET)
file(GLOB demo ${WORK}/demo/*.pdf)
if(NOT result EQUAL 0 OR NOT demo)
  message(FATAL_ERROR "the moved program did not write the demo (status ${result})")
endif()
file(REMOVE_RECURSE ${WORK})
