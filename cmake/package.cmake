# The Debian package: `cpack -G DEB` in a build folder makes
# pagetrim_<version>_<arch>.deb from the install rules, for `apt install ./…`.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pagetrim)
set(CPACK_PACKAGE_VENDOR "The pagetrim developers")
set(PAGETRIM_PACKAGE_MAINTAINER "The pagetrim developers <developers@pagetrim.org>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${PAGETRIM_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://pagetrim.org/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "trim the blank margins of scanned book pages")
# Lines of a Debian description stay under 80 columns: dpkg and apt show
# them as they are.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Drop one page (JPEG or PNG) of a scanned book on its window, point at a"
  "blank margin, and pagetrim cuts everything up to the first ink it meets."
  "Pages can be padded to the 0.707 page ratio, and are written back over"
  "their own files, one at a time or the whole folder at once; a crash or a"
  "full disk never leaves a half-written page behind."
  "The interface is in Japanese.")

# A package installs under /usr whatever prefix the build folder was
# configured with, so that the desktop entry, icon and metainfo land where
# desktops and software centres look for them.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)

# The libraries the program links, down to the C library, are found by
# dpkg-shlibdeps with the versions whose symbols it uses. Named by hand is
# what the linker cannot see: Qt's platform plugins are loaded at run time,
# without a Japanese font every caption is a row of boxes, and without Qt's
# Japanese translations its standard buttons read "Yes" and "No".
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-noto-cjk, qt6-translations-l10n")

# The licence as Debian's machine-readable copyright file, made from LICENSE
# so that the two always say the same: the text from its first paragraph
# on, each line indented by one space, an empty line written as " .".
file(READ ${PROJECT_SOURCE_DIR}/LICENSE PAGETRIM_LICENSE_BODY)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" license_copyright "${PAGETRIM_LICENSE_BODY}")
set(PAGETRIM_COPYRIGHT "${CMAKE_MATCH_1}")
string(FIND "${PAGETRIM_LICENSE_BODY}" "Permission is hereby granted" license_start)
string(SUBSTRING "${PAGETRIM_LICENSE_BODY}" ${license_start} -1 PAGETRIM_LICENSE_BODY)
string(STRIP "${PAGETRIM_LICENSE_BODY}" PAGETRIM_LICENSE_BODY)
string(REPLACE "\n\n" "\n.\n" PAGETRIM_LICENSE_BODY "${PAGETRIM_LICENSE_BODY}")
string(REPLACE "\n" "\n " PAGETRIM_LICENSE_BODY " ${PAGETRIM_LICENSE_BODY}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright.in ${CMAKE_BINARY_DIR}/generated/copyright @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/generated/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# A package whose version has no Debian revision carries its changelog as
# changelog.gz, compressed as Debian does it: best, and without a time stamp.
execute_process(COMMAND gzip -9nc INPUT_FILE ${CMAKE_CURRENT_LIST_DIR}/changelog
                OUTPUT_FILE ${CMAKE_BINARY_DIR}/generated/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${CMAKE_BINARY_DIR}/generated/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/LICENSE ${CMAKE_CURRENT_LIST_DIR}/changelog)

# CPack installs the project before packing it, and with Makefiles that step
# would first build every target, tests and benchmarks included. Packaging
# takes what is already built instead; scripts/package builds the program.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

include(CPack)
