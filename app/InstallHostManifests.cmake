# Run by `cmake --install`: writes the system-wide native host manifests for
# the program as installed, so that the path in them is right for the prefix
# given at install time. PAGEWING_CHROMIUM_EXTENSION_ID is set by the caller.
set(prefix "${CMAKE_INSTALL_PREFIX}")
set(program "${prefix}/bin/pagewing")
# /usr keeps its configuration in /etc; every other prefix under itself.
if(prefix STREQUAL "/usr")
    set(sysconf "/etc")
else()
    set(sysconf "${prefix}/etc")
endif()

set(head "{\n  \"name\": \"org.pagewing.host\",\n  \"description\": \"Pagewing: the page you see, as an e-mail\",\n  \"path\": \"${program}\",\n  \"type\": \"stdio\",\n")
set(firefox "${head}  \"allowed_extensions\": [\n    \"pagewing@pagewing.org\"\n  ]\n}\n")
set(chromium "${head}  \"allowed_origins\": [\n    \"chrome-extension://${PAGEWING_CHROMIUM_EXTENSION_ID}/\"\n  ]\n}\n")

foreach(pair "firefox|${prefix}/lib/mozilla/native-messaging-hosts"
             "chromium|${sysconf}/chromium/native-messaging-hosts")
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 browser)
    list(GET pair 1 folder)
    set(target "$ENV{DESTDIR}${folder}/org.pagewing.host.json")
    message(STATUS "Installing: ${target}")
    file(WRITE "${target}" "${${browser}}")
endforeach()
