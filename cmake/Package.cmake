# `cpack -G DEB` in the build folder makes qsalvage_VERSION_ARCH.deb of what
# cmake/Install.cmake installs, under /usr. Its Depends line is worked out
# by dpkg-shlibdeps (dpkg-dev) from the libraries the programs link.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qsalvage)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quenmar Image Salvage")
set(CPACK_PACKAGE_CONTACT "Quenmar Image Salvage <salvage@quenmar.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "recover files from virtual-disk images")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The build is RelWithDebInfo; the package carries the programs without
# their debugging information.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quenmar Image Salvage <salvage@quenmar.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The completion is read when bash-completion is there.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS bash-completion)
# The summary above is the description's first line; CPack indents the
# rest as a control file wants it, an empty line becoming " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quenmar Image Salvage reads VHDX, VHD, VDI, monolithic sparse VMDK and raw
disk images, only ever reading them, and recovers files from the NTFS, FAT,
exFAT, ext2/3/4 and HFS+ volumes on them, deleted files included. Damaged
volumes are read in deep and advanced modes, and files are carved by their
signatures where no file system is left.

This package holds the command-line tool qsalvage and, where built, the
desktop wizard qsalvage-gui.")

include(CPack)
