# `make deb`: the Debian package, made by CPack's DEB generator. It packs
# what the install rules install (the same ones `make install` runs), so the
# package cannot drift from an installation; a debian/ folder would list the
# files a second time.
set(CPACK_GENERATOR DEB)
# CPack installs through the `preinstall` target, which would otherwise
# build every target first, the whole test suite included; installing needs
# the program alone, and `make deb` builds it.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_PACKAGE_NAME pagewing)
set(CPACK_PACKAGE_VENDOR "The Pagewing developers")
set(CPACK_PACKAGE_CONTACT "The Pagewing developers <pagewing@pagewing.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "turn a web page into a ready-to-send HTML e-mail")
set(CPACK_PACKAGE_DESCRIPTION
    "Pagewing downloads a web page and everything the page shows (images, style
sheets, background images, frames), rewrites the HTML so that every resource
is a part of the message, strips what a mail reader must not run, and writes
one MIME message that a mail client opens as a draft ready to send.

It has a window that lists the pages open in Firefox, Chromium and Chrome, a
browser extension that sends the page as shown with one click, and a
command line.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # pagewing_VERSION_ARCH.deb
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps reads the libraries the program links and writes Depends.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them: the certificates
# https pages are checked against, the desktop's proxy settings as GIO reads
# them, and the opener of the message where GIO knows no mail client.
# Chromium is needed for --render only.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ca-certificates, glib-networking, gsettings-desktop-schemas, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "chromium")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The install rules run with DESTDIR and the prefix /usr, so that the host
# manifests that app/InstallHostManifests.cmake writes name /usr/bin/pagewing
# and go to /usr/lib/mozilla and /etc/chromium.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)

# The browsers read the manifest under /etc; a local change to it is kept.
set(pagewing_conffiles ${PROJECT_BINARY_DIR}/packaging/conffiles)
file(WRITE ${pagewing_conffiles} "/etc/chromium/native-messaging-hosts/org.pagewing.host.json\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${pagewing_conffiles})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# What Debian wants in every package besides the installation: the
# copyright file, a changelog, and compressed manuals.
# CPack hands the script only the CPACK_ variables.
set(CPACK_PAGEWING_COPYRIGHT ${CMAKE_CURRENT_LIST_DIR}/copyright)
set(CPACK_PAGEWING_RELEASE_DATE ${PAGEWING_RELEASE_DATE})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/DebianDocs.cmake)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)

include(CPack)
