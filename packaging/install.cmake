# Installing on Linux: besides the binary (installed by the top file), a
# systemd user unit and an XDG autostart entry that start the launcher at
# login. Both name the installed binary, so they are written at install time.
if(WIN32)
  return()
endif()

# share/systemd/user is searched by the user manager below /usr, /usr/local
# and ~/.local alike.
set(ZWL_SYSTEMD_USER_UNIT_DIR "${CMAKE_INSTALL_DATADIR}/systemd/user" CACHE STRING
    "Where the systemd user unit goes (relative: below the install prefix)")
# Empty: /etc/xdg/autostart for the prefix /usr, <prefix>/etc/xdg/autostart
# otherwise. Set it to ~/.config/autostart for a single user's install.
set(ZWL_AUTOSTART_DIR "" CACHE STRING
    "Where the XDG autostart entry goes (relative: below the install prefix)")

install(CODE "
set(ZWL_PACKAGING_SOURCE_DIR \"${CMAKE_CURRENT_LIST_DIR}\")
set(ZWL_PACKAGING_WORK_DIR \"${CMAKE_BINARY_DIR}/packaging\")
set(ZWL_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
set(ZWL_UNIT_DIR \"${ZWL_SYSTEMD_USER_UNIT_DIR}\")
set(ZWL_AUTOSTART_DIR \"${ZWL_AUTOSTART_DIR}\")
")
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/install_files.cmake)

if(ZWL_TESTS AND NOT CMAKE_CROSSCOMPILING)
  # Installs into throw-away prefixes and checks what lands there; validates
  # the two files with desktop-file-validate and systemd-analyze when present.
  add_test(NAME packaging_install
           COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/check_install.sh install ${CMAKE_BINARY_DIR} ${CMAKE_COMMAND})
  add_test(NAME packaging_validate
           COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/check_install.sh validate ${CMAKE_BINARY_DIR} ${CMAKE_COMMAND})
  set_tests_properties(packaging_install packaging_validate PROPERTIES LABELS packaging SKIP_RETURN_CODE 77 TIMEOUT 120)
endif()
