# Runs in cpack on the staged tree, before the package is made: gzips the
# manual pages and adds the copyright file and the changelog where Debian
# looks for them.
set(share "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/share")
if(NOT IS_DIRECTORY "${share}/man")
  message(FATAL_ERROR "no manual pages staged under ${share}")
endif()
set(doc "${share}/doc/${CPACK_PACKAGE_NAME}")
file(MAKE_DIRECTORY "${doc}")
file(COPY "${CPACK_KESTOVATIFF_COPYRIGHT}" "${CPACK_KESTOVATIFF_CHANGELOG}" DESTINATION "${doc}"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(GLOB_RECURSE pages "${share}/man/*.[1-9]")
foreach(file IN LISTS pages ITEMS "${doc}/changelog")
  execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip ${file} failed")
  endif()
endforeach()
