# RE2, the record stage's pattern engine, as the target lintrel_re2.
#
# On Linux: Debian's libre2-dev. For the Windows cross-build there is no MinGW build of RE2
# in Debian, so RE2 is built here from the same version's Debian source, which
# tools/fetch_re2_source.sh fetches once into build/third_party/ (tools/setup.sh does it).
if(NOT CMAKE_CROSSCOMPILING)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(RE2 REQUIRED IMPORTED_TARGET re2)
  add_library(lintrel_re2 INTERFACE)
  target_link_libraries(lintrel_re2 INTERFACE PkgConfig::RE2)
  return()
endif()

set(LINTREL_THIRD_PARTY_DIR "${PROJECT_SOURCE_DIR}/build/third_party" CACHE PATH
  "Where sources built for the cross-build are kept")
set(LINTREL_RE2_SOURCE_DIR "${LINTREL_THIRD_PARTY_DIR}/re2")
if(NOT EXISTS "${LINTREL_RE2_SOURCE_DIR}/.complete")
  message(STATUS "Fetching the source of RE2 into ${LINTREL_THIRD_PARTY_DIR}")
  execute_process(COMMAND bash "${PROJECT_SOURCE_DIR}/tools/fetch_re2_source.sh" "${LINTREL_THIRD_PARTY_DIR}"
                  RESULT_VARIABLE fetched)
  if(NOT fetched EQUAL 0)
    message(FATAL_ERROR "The source of RE2 could not be fetched: run tools/setup.sh")
  endif()
endif()

set(re2_sources bitstate compile dfa filtered_re2 mimics_pcre nfa onepass parse perl_groups prefilter
  prefilter_tree prog re2 regexp set simplify stringpiece tostring unicode_casefold unicode_groups)
list(TRANSFORM re2_sources PREPEND "${LINTREL_RE2_SOURCE_DIR}/re2/")
list(TRANSFORM re2_sources APPEND ".cc")
add_library(lintrel_re2 STATIC ${re2_sources} "${LINTREL_RE2_SOURCE_DIR}/util/rune.cc"
  "${LINTREL_RE2_SOURCE_DIR}/util/strutil.cc")
# Its headers count as a system library's; its own warnings are its authors' business.
target_include_directories(lintrel_re2 SYSTEM PUBLIC "${LINTREL_RE2_SOURCE_DIR}")
target_compile_definitions(lintrel_re2 PRIVATE NOMINMAX UNICODE _UNICODE STRICT)
target_compile_options(lintrel_re2 PRIVATE -w)
