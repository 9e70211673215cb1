# What an installation holds, and the two packages made from it: the Debian
# package (make package) and the Windows zip (make package-windows). Nothing
# installed refers back to the source or build tree.
#
# Linux, under the prefix:
#   bin/folio                     run path $ORIGIN/../lib/folio
#   bin/folio-make-image-list     tools/make-image-list
#   lib/folio/libpdfium.so        private to folio, so not in the linker's path
#   share/doc/folio/              README.md, docs/, copyright, changelog.gz, pdfium/
#   share/man/man1/               folio.1.gz, folio-make-image-list.1.gz
# Windows, one folder:
#   folio.exe, pdfium.dll beside it, README.md, docs/, licenses/

# The licence texts that came with the PDFium library: scripts/setup keeps
# the wheel's beside the library it extracts.
get_filename_component(FOLIO_DEFAULT_PDFIUM_LICENSES "${PDFIUM_LIBRARY_DIR}/../licenses" ABSOLUTE)
set(PDFIUM_LICENSES "${FOLIO_DEFAULT_PDFIUM_LICENSES}"
    CACHE PATH "The folder of licence texts that ship with the PDFium library")
if(NOT IS_DIRECTORY "${PDFIUM_LICENSES}")
  message(WARNING "No PDFium licence texts at ${PDFIUM_LICENSES}: an installation or package "
                  "would lack them. Run scripts/setup, or pass -DPDFIUM_LICENSES=/path/to/folder")
endif()

set(FOLIO_PACKAGING_DIR "${CMAKE_CURRENT_LIST_DIR}")
set(FOLIO_MAINTAINER "The Folio authors <maintainers@users.noreply.c-seed-86983c1f.example>")
set(FOLIO_GENERATED_DIR "${CMAKE_BINARY_DIR}/packaging")

if(WIN32)
  set(FOLIO_BIN_DIR .)
  set(FOLIO_DOC_DIR .)
  set(FOLIO_LICENSE_DIR licenses)
  install(TARGETS folio RUNTIME DESTINATION ${FOLIO_BIN_DIR})
  install(FILES "${PDFIUM_LIBRARY}" DESTINATION ${FOLIO_BIN_DIR})
  install(FILES LICENSE DESTINATION ${FOLIO_LICENSE_DIR} RENAME folio.txt)
  # The compiler's runtimes are linked into folio.exe: the C++ and GCC support
  # libraries (GPL version 3 with the GCC Runtime Library Exception), and
  # mingw-w64's C runtime start-up and winpthreads, whose notices go with
  # every copy. The toolchain's own copyright files carry them.
  foreach(notice
      "gcc-runtime.txt=/usr/share/doc/gcc-mingw-w64-i686-posix-runtime/copyright"
      "mingw-w64-runtime.txt=/usr/share/doc/mingw-w64-i686-dev/copyright"
      "GPL-3.txt=/usr/share/common-licenses/GPL-3")
    string(REPLACE "=" ";" notice "${notice}")
    list(GET notice 0 name)
    list(GET notice 1 path)
    install(FILES "${path}" DESTINATION ${FOLIO_LICENSE_DIR} RENAME ${name})
  endforeach()
else()
  set(FOLIO_BIN_DIR bin)
  set(FOLIO_DOC_DIR share/doc/folio)
  set(FOLIO_LICENSE_DIR ${FOLIO_DOC_DIR})
  set_target_properties(folio PROPERTIES INSTALL_RPATH "\$ORIGIN/../lib/folio")
  install(TARGETS folio RUNTIME DESTINATION ${FOLIO_BIN_DIR})
  install(FILES "${PDFIUM_LIBRARY}" DESTINATION lib/folio)
  # The wheel's PDFium keeps its symbols; a stripped install leaves them out,
  # as it does folio's.
  get_filename_component(pdfium_name "${PDFIUM_LIBRARY}" NAME)
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded
        --remove-section=.comment --remove-section=.note
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/folio/${pdfium_name}\" COMMAND_ERROR_IS_FATAL ANY)
    endif()")
  install(PROGRAMS tools/make-image-list DESTINATION ${FOLIO_BIN_DIR} RENAME folio-make-image-list)

  file(READ LICENSE FOLIO_LICENSE)
  configure_file("${FOLIO_PACKAGING_DIR}/copyright.in" "${FOLIO_GENERATED_DIR}/copyright" @ONLY)

  # The release's entry in the Debian changelog, dated by SOURCE_DATE_EPOCH
  # when it is set, and the manual pages; compressed without a name or time
  # stamp, so that the same sources give the same files.
  string(TIMESTAMP FOLIO_RELEASE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  foreach(name changelog folio.1 folio-make-image-list.1)
    configure_file("${FOLIO_PACKAGING_DIR}/${name}.in" "${FOLIO_GENERATED_DIR}/${name}" @ONLY)
    execute_process(COMMAND gzip -9nf "${FOLIO_GENERATED_DIR}/${name}" COMMAND_ERROR_IS_FATAL ANY)
  endforeach()

  install(FILES "${FOLIO_GENERATED_DIR}/copyright" "${FOLIO_GENERATED_DIR}/changelog.gz"
          DESTINATION ${FOLIO_DOC_DIR})
  install(FILES "${FOLIO_GENERATED_DIR}/folio.1.gz" "${FOLIO_GENERATED_DIR}/folio-make-image-list.1.gz"
          DESTINATION share/man/man1)
  # What the package's checks flag on purpose, each with its reason.
  install(FILES "${FOLIO_PACKAGING_DIR}/lintian-overrides"
          DESTINATION share/lintian/overrides RENAME folio)
endif()
# The README links into docs/, so the pages go with it.
install(FILES README.md DESTINATION ${FOLIO_DOC_DIR})
install(DIRECTORY docs/ DESTINATION ${FOLIO_DOC_DIR}/docs)
if(IS_DIRECTORY "${PDFIUM_LICENSES}")
  install(DIRECTORY "${PDFIUM_LICENSES}/" DESTINATION ${FOLIO_LICENSE_DIR}/pdfium)
endif()

# The packages. Their version is the project's, as is folio.exe's version
# resource.
set(CPACK_PACKAGE_NAME folio)
set(CPACK_PACKAGE_VENDOR "The Folio authors")
set(CPACK_PACKAGE_CONTACT "${FOLIO_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "document conversion worker: PDF to PNG pages, images to PDF")
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}")
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "folio-${PROJECT_VERSION}-win32")
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_PACKAGE_DESCRIPTION_FILE "${FOLIO_PACKAGING_DIR}/description")
  # The libraries come from what the binaries link: dpkg-shlibdeps names the
  # package of each, so a codec added later is picked up by itself. PDFium is
  # the package's own. The list-file tool is a Python 3 script.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS python3)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()
include(CPack)
