# The version and maker of Lintrel, from project(VERSION): the programs, their version
# resources, the About box and the packages all take them from here.
set(LINTREL_VENDOR "VANTORIL SOFTWARE")
set(LINTREL_COPYRIGHT "Copyright (C) 2026 ${LINTREL_VENDOR}")

# The About box shows the major version, then the minor as two digits: 1.2.0 is "1.02".
if(PROJECT_VERSION_MINOR LESS 10)
  set(LINTREL_ABOUT_VERSION "${PROJECT_VERSION_MAJOR}.0${PROJECT_VERSION_MINOR}")
else()
  set(LINTREL_ABOUT_VERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}")
endif()

configure_file(${PROJECT_SOURCE_DIR}/app/version.h.in ${PROJECT_BINARY_DIR}/generated/app/version.h @ONLY)
add_library(lintrel_version INTERFACE)
target_include_directories(lintrel_version INTERFACE ${PROJECT_BINARY_DIR}/generated)
