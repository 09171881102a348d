# How the test programs are built, in one place (tests/CMakeLists.txt includes this file and
# calls lintrel_finish_test_programs() at its end, so that every test program added anywhere
# under tests/ gets it without a line of its own).

# The programs under `directory` and its subfolders that link GoogleTest, in `out`.
function(lintrel_test_programs_in directory out)
  set(programs)
  get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    get_target_property(links ${target} LINK_LIBRARIES)
    if(type STREQUAL "EXECUTABLE" AND "GTest::gtest" IN_LIST links)
      list(APPEND programs ${target})
    endif()
  endforeach()
  get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
  foreach(subdirectory IN LISTS subdirectories)
    lintrel_test_programs_in(${subdirectory} more)
    list(APPEND programs ${more})
  endforeach()
  set(${out} ${programs} PARENT_SCOPE)
endfunction()


# What every test program gets, for the time its compilation takes (most of the build):
# - its own code is compiled without optimization, which halves that time; the libraries
#   and programs under test keep the build type's optimization (-O2, and -O1 in the
#   sanitizer build);
# - its test files are compiled together, eight at a time (a unity build), so that the
#   headers and GoogleTest's templates they share are compiled once for the eight, which
#   halves that time again. A file's helpers in an anonymous namespace then share that
#   namespace with its neighbours': a helper two files need lives in a header of
#   tests/ (one shared copy), never twice. LINTREL_UNITY_BUILD=OFF compiles each alone;
# - GoogleTest's headers (and the standard headers the tests use most) are parsed once for
#   all programs: one precompiled header, made by a target of its own and reused by all of
#   them (the ThreadSanitizer programs, compiled with other flags, share one of their own).
#   GCC takes a precompiled header only when it was made with the same flags, and
#   -Winvalid-pch (with -Werror) makes one it refuses an error, never a silent slow path.
#   It also refuses one made with a macro the program lacks, but takes one made without a
#   macro the program adds: the header's own target has no definitions, so a program's
#   definitions (LINTREL_CLI_PATH and the like) never break another's build.
function(lintrel_finish_test_programs)
  lintrel_test_programs_in(${CMAKE_CURRENT_SOURCE_DIR} programs)
  foreach(program IN LISTS programs)
    lintrel_test_program_flags(${program})
    if(LINTREL_UNITY_BUILD)
      set_target_properties(${program} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 8)
    endif()
    get_target_property(options ${program} COMPILE_OPTIONS)
    if("-fsanitize=thread" IN_LIST options)
      lintrel_test_header_owner(lintrel_test_headers_tsan)
      target_precompile_headers(${program} REUSE_FROM lintrel_test_headers_tsan)
    else()
      lintrel_test_header_owner(lintrel_test_headers)
      target_precompile_headers(${program} REUSE_FROM lintrel_test_headers)
    endif()
  endforeach()
endfunction()

# The test programs' own code is compiled without optimization: after the build type's
# flags on the command line, so this one counts.
function(lintrel_test_program_flags program)
  target_compile_options(${program} PRIVATE -O0)
endfunction()

# The target that makes the precompiled header: `lintrel_test_headers`, with the flags of
# a plain test program, or `lintrel_test_headers_tsan`, with a ThreadSanitizer one's.
function(lintrel_test_header_owner owner)
  if(TARGET ${owner})
    return()
  endif()
  set(source ${CMAKE_CURRENT_BINARY_DIR}/${owner}.cpp)
  file(CONFIGURE OUTPUT ${source} CONTENT "// Only the precompiled header of the test programs.\n")
  add_library(${owner} STATIC ${source})
  target_link_libraries(${owner} PRIVATE GTest::gtest GTest::gmock)
  if(owner MATCHES "_tsan$")
    lintrel_thread_sanitized(${owner})
  else()
    lintrel_target_defaults(${owner})
  endif()
  lintrel_test_program_flags(${owner})
  target_precompile_headers(${owner} PRIVATE <gtest/gtest.h> <gmock/gmock.h> <atomic> <chrono> <filesystem>
    <functional> <map> <memory> <optional> <string> <string_view> <thread> <vector>)
endfunction()

# A ThreadSanitizer copy of a project library, `<library>_tsan`: the same sources, include
# folders and definitions, each project library it links replaced by its own copy (made
# here too). ThreadSanitizer cannot share a program with AddressSanitizer, so the threaded
# tests link these copies; each is compiled once for all of them.
function(lintrel_thread_sanitized_library library)
  if(TARGET ${library}_tsan)
    return()
  endif()
  get_target_property(source_dir ${library} SOURCE_DIR)
  get_target_property(relative_sources ${library} SOURCES)
  set(sources)
  foreach(source IN LISTS relative_sources)
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${source_dir})
    list(APPEND sources ${source})
  endforeach()
  add_library(${library}_tsan STATIC ${sources})
  # A file the library compiles alone, the copy compiles alone too.
  foreach(source IN LISTS sources)
    get_source_file_property(alone ${source} DIRECTORY ${source_dir} SKIP_UNITY_BUILD_INCLUSION)
    if(alone)
      set_source_files_properties(${source} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
    endif()
  endforeach()

  foreach(property INCLUDE_DIRECTORIES COMPILE_DEFINITIONS)
    get_target_property(own ${library} ${property})
    get_target_property(shared ${library} INTERFACE_${property})
    if(own)
      set_property(TARGET ${library}_tsan PROPERTY ${property} ${own})
    endif()
    if(shared)
      set_property(TARGET ${library}_tsan PROPERTY INTERFACE_${property} ${shared})
    endif()
  endforeach()

  # Each link as the library has it: what it links privately (RE2 with its -pthread) stays
  # private, or the copy would pass its flags on to the programs and their precompiled header.
  get_target_property(links ${library} LINK_LIBRARIES)
  get_target_property(public_links ${library} INTERFACE_LINK_LIBRARIES)
  foreach(link IN LISTS links)
    if(link IN_LIST public_links)
      set(visibility PUBLIC)
    else()
      set(visibility PRIVATE)
    endif()
    if(TARGET ${link} AND link MATCHES "^lintrel_")
      get_target_property(type ${link} TYPE)
      if(NOT type STREQUAL "INTERFACE_LIBRARY")
        lintrel_thread_sanitized_library(${link})
        set(link ${link}_tsan)
      endif()
    endif()
    if(link)
      target_link_libraries(${library}_tsan ${visibility} ${link})
    endif()
  endforeach()
  lintrel_thread_sanitized(${library}_tsan)
endfunction()
