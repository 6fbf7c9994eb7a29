# Runs at install time, after the binary is installed: writes the systemd user
# unit and the autostart entry with the installed binary's path for the prefix
# actually installed to (cmake --install --prefix may differ from the
# configured one), then installs them. DESTDIR is honoured by file(INSTALL) and
# never appears inside the files.

function(zwl_below_prefix dir result)
  if(IS_ABSOLUTE "${dir}")
    set(${result} "${dir}" PARENT_SCOPE)
  else()
    set(${result} "${CMAKE_INSTALL_PREFIX}/${dir}" PARENT_SCOPE)
  endif()
endfunction()

zwl_below_prefix("${ZWL_BINDIR}" bindir)
set(binary "${bindir}/zanfiroWebLauncher")

# systemd: a quoted word with C-style escapes; % and $ are specifiers there.
string(REPLACE "\\" "\\\\" ZWL_EXEC_BINARY "${binary}")
string(REPLACE "\"" "\\\"" ZWL_EXEC_BINARY "${ZWL_EXEC_BINARY}")
string(REPLACE "%" "%%" ZWL_EXEC_BINARY "${ZWL_EXEC_BINARY}")
string(REPLACE "$" "$$" ZWL_EXEC_BINARY "${ZWL_EXEC_BINARY}")
set(ZWL_EXEC_BINARY "\"${ZWL_EXEC_BINARY}\"")

# Desktop entry: a quoted argument (\ " ` $ escaped by a backslash), then the
# value's own escaping doubles every backslash; % is a field code there.
set(quoted "${binary}")
string(REPLACE "\\" "\\\\" quoted "${quoted}")
string(REPLACE "\"" "\\\"" quoted "${quoted}")
string(REPLACE "`" "\\`" quoted "${quoted}")
string(REPLACE "$" "\\$" quoted "${quoted}")
string(REPLACE "\\" "\\\\" quoted "${quoted}")
string(REPLACE "%" "%%" quoted "${quoted}")
set(ZWL_DESKTOP_BINARY "\"${quoted}\"")

# One folder per destination, so that installs to different prefixes at the
# same time do not write each other's files.
string(MD5 destination "$ENV{DESTDIR}|${CMAKE_INSTALL_PREFIX}")
set(work "${ZWL_PACKAGING_WORK_DIR}/${destination}")
configure_file("${ZWL_PACKAGING_SOURCE_DIR}/zanfiroWebLauncher.service.in"
               "${work}/zanfiroWebLauncher.service" @ONLY)
configure_file("${ZWL_PACKAGING_SOURCE_DIR}/zanfiroWebLauncher.desktop.in"
               "${work}/zanfiroWebLauncher.desktop" @ONLY)

zwl_below_prefix("${ZWL_UNIT_DIR}" unitdir)
if(ZWL_AUTOSTART_DIR STREQUAL "")
  # The system-wide autostart folder is /etc/xdg/autostart, also for /usr.
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(autostartdir "/etc/xdg/autostart")
  else()
    set(autostartdir "${CMAKE_INSTALL_PREFIX}/etc/xdg/autostart")
  endif()
else()
  zwl_below_prefix("${ZWL_AUTOSTART_DIR}" autostartdir)
endif()

file(INSTALL DESTINATION "${unitdir}" TYPE FILE
     PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
     FILES "${work}/zanfiroWebLauncher.service")
file(INSTALL DESTINATION "${autostartdir}" TYPE FILE
     PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
     FILES "${work}/zanfiroWebLauncher.desktop")
file(REMOVE_RECURSE "${work}")
