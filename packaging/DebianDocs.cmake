# Run by CPack on the installed tree before it is packed: adds what Debian
# wants in every package but an installation does not need, the copyright
# file and a changelog, and compresses the manual and the changelog as
# Debian does (gzip -9n: no name or time inside, so a rebuild is identical).
set(root "${CPACK_TEMPORARY_DIRECTORY}")
if(NOT IS_DIRECTORY "${root}/usr")
    message(FATAL_ERROR "DebianDocs: no installed tree in '${root}'")
endif()
set(doc "${root}/usr/share/doc/${CPACK_PACKAGE_NAME}")
file(MAKE_DIRECTORY "${doc}")
configure_file("${CPACK_PAGEWING_COPYRIGHT}" "${doc}/copyright" COPYONLY)

# A native package's changelog, one entry for this version.
execute_process(
    COMMAND date -u -R -d "${CPACK_PAGEWING_RELEASE_DATE}"
    OUTPUT_VARIABLE when OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
file(WRITE "${doc}/changelog"
    "${CPACK_PACKAGE_NAME} (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium\n\n"
    "  * Release ${CPACK_PACKAGE_VERSION}.\n\n"
    " -- ${CPACK_PACKAGE_CONTACT}  ${when}\n")

file(GLOB manuals "${root}/usr/share/man/man*/*.[1-9]")
foreach(file IN ITEMS "${doc}/changelog" ${manuals})
    execute_process(COMMAND gzip -9nf "${file}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
