# Standalone Asio (Debian's libasio-dev), header-only: the sockets of network ports on both
# platforms. The cross-build must not search /usr/include, whose other headers are Linux's,
# so it gets a folder that holds links to Asio's headers alone.
find_file(LINTREL_ASIO_HEADER asio.hpp PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT LINTREL_ASIO_HEADER)
  message(FATAL_ERROR "Standalone Asio is missing: install libasio-dev (tools/setup.sh)")
endif()
get_filename_component(LINTREL_ASIO_ROOT "${LINTREL_ASIO_HEADER}" DIRECTORY)

add_library(lintrel_asio INTERFACE)
target_compile_definitions(lintrel_asio INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED)
if(CMAKE_CROSSCOMPILING)
  set(LINTREL_ASIO_INCLUDE "${CMAKE_BINARY_DIR}/third_party/asio-include")
  file(MAKE_DIRECTORY "${LINTREL_ASIO_INCLUDE}")
  file(CREATE_LINK "${LINTREL_ASIO_ROOT}/asio" "${LINTREL_ASIO_INCLUDE}/asio" SYMBOLIC)
  file(CREATE_LINK "${LINTREL_ASIO_ROOT}/asio.hpp" "${LINTREL_ASIO_INCLUDE}/asio.hpp" SYMBOLIC)
  target_include_directories(lintrel_asio SYSTEM INTERFACE "${LINTREL_ASIO_INCLUDE}")
endif()
if(WIN32)
  # Winsock, and the extensions Asio's connect and accept use.
  target_compile_definitions(lintrel_asio INTERFACE _WIN32_WINNT=0x0A00)
  target_link_libraries(lintrel_asio INTERFACE ws2_32 mswsock)
endif()
