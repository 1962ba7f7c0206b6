# ctest's check of `cmake --install`: a staged install (DESTDIR) into a scratch folder holds the
# programs, the menu entry, the icon, the AppStream data, the manual pages and the package's
# documents, and the installed program runs from there.
# cmake -DBUILD_DIR=... -DSCRATCH=... -DMANUAL_PAGES=ON|OFF -DVERSION=... -P check_install.cmake
file(REMOVE_RECURSE ${SCRATCH})
set(ENV{DESTDIR} ${SCRATCH})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()

set(expected
    bin/meravel bin/make_demo_series share/applications/org.meravel.Meravel.desktop
    share/icons/hicolor/scalable/apps/org.meravel.Meravel.svg
    share/metainfo/org.meravel.Meravel.metainfo.xml share/doc/meravel/copyright
    share/doc/meravel/changelog.gz)
if(MANUAL_PAGES)
  list(APPEND expected share/man/man1/meravel.1.gz share/man/man1/make_demo_series.1.gz)
endif()
foreach(path ${expected})
  if(NOT EXISTS ${SCRATCH}/usr/${path})
    message(FATAL_ERROR "not installed: /usr/${path}")
  endif()
endforeach()

file(READ ${SCRATCH}/usr/share/metainfo/org.meravel.Meravel.metainfo.xml metainfo)
if(NOT metainfo MATCHES "<release version=\"${VERSION}\"" OR metainfo MATCHES "@")
  message(FATAL_ERROR "the AppStream data lacks release ${VERSION} or holds a placeholder")
endif()

execute_process(COMMAND ${SCRATCH}/usr/bin/meravel --version OUTPUT_VARIABLE version_text
                RESULT_VARIABLE status WORKING_DIRECTORY ${SCRATCH})
if(NOT status EQUAL 0 OR NOT version_text STREQUAL "meravel ${VERSION}\n")
  message(FATAL_ERROR "installed meravel --version: ${status} '${version_text}'")
endif()
file(REMOVE_RECURSE ${SCRATCH})
