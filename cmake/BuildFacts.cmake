# Writes what the build knows of itself: a C++ source with the version stamp and
# the build time, and the bundle's Info.json. Run with -P at configure time and
# before every build; a file is rewritten only when its text changes, so an
# unchanged checkout recompiles nothing and relinks nothing.
#
#   -DSOURCE_DIR=... -DOUTPUT_SOURCE=....cpp -DOUTPUT_INFO=.../Info.json -DIDENTIFIER=...
#
# Stamp: the commit day in UTC, a hyphen and the first 7 hex digits of the
# commit; the build time is the commit time. Both follow the commit rather than
# the clock, so the same checkout always builds the same facts and two builds of
# one day are ordered by their commits. Outside git the stamp is "0" and the
# build time is SOURCE_DATE_EPOCH, or the time these facts were first written.

foreach(required SOURCE_DIR OUTPUT_SOURCE OUTPUT_INFO IDENTIFIER)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "BuildFacts.cmake needs -D${required}=...")
  endif()
endforeach()

set(stamp "0")
set(build_time "")
find_program(GIT_PROGRAM git)
if(GIT_PROGRAM)
  set(ENV{TZ} "UTC")
  execute_process(COMMAND ${GIT_PROGRAM} -C ${SOURCE_DIR} log -1 "--format=%cd %H %ct" --date=format-local:%Y%m%d
                  OUTPUT_VARIABLE git_line ERROR_QUIET RESULT_VARIABLE git_result
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(git_result EQUAL 0 AND git_line MATCHES "^([0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9]) ([0-9a-f]+) ([0-9]+)$")
    string(SUBSTRING "${CMAKE_MATCH_2}" 0 7 short_id)
    set(stamp "${CMAKE_MATCH_1}-${short_id}")
    set(build_time "${CMAKE_MATCH_3}")
  endif()
endif()

if(stamp STREQUAL "0")
  if(DEFINED ENV{SOURCE_DATE_EPOCH} AND "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
    set(build_time "$ENV{SOURCE_DATE_EPOCH}")
  elseif(EXISTS ${OUTPUT_SOURCE})
    # Keep the earlier time: a clock read on every build would rebuild every time.
    file(STRINGS ${OUTPUT_SOURCE} earlier REGEX "^const double buildTime = [0-9]+;")
    if(earlier MATCHES "= ([0-9]+);")
      set(build_time "${CMAKE_MATCH_1}")
    endif()
  endif()
  if(build_time STREQUAL "")
    string(TIMESTAMP build_time "%s" UTC)
  endif()
endif()

function(write_if_changed path text)
  if(EXISTS ${path})
    file(READ ${path} old)
    if(old STREQUAL text)
      return()
    endif()
  endif()
  file(WRITE ${path}.tmp "${text}")
  file(RENAME ${path}.tmp ${path})
endfunction()

write_if_changed(${OUTPUT_SOURCE} "// Written by cmake/BuildFacts.cmake for each build; not edited by hand.
namespace tallowmark::update::generated {
extern const char* const buildStamp;
extern const double buildTime;
const char* const buildStamp = \"${stamp}\";
const double buildTime = ${build_time};
}  // namespace tallowmark::update::generated
")

write_if_changed(${OUTPUT_INFO} "{
  \"CFBundleIdentifier\": \"${IDENTIFIER}\",
  \"CFBundleVersion\": \"${stamp}\",
  \"HFXBuildTime\": ${build_time}
}
")
