# Run by cpack (CPACK_PRE_BUILD_SCRIPTS) once it has put the files to pack into its staging
# folder, stripped: signs the programs there when LINTREL_SIGN_CERT names a certificate
# (tools/package.sh --sign), so that the installer and the zip hold signed programs.
if("$ENV{LINTREL_SIGN_CERT}" STREQUAL "")
  return()
endif()
file(GLOB_RECURSE programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.exe")
if(NOT programs)
  message(FATAL_ERROR "no programs to sign in ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
execute_process(COMMAND bash "${CPACK_LINTREL_SIGN_SCRIPT}" "$ENV{LINTREL_SIGN_CERT}" ${programs}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "signing the programs failed")
endif()
