# The Windows build: Winsock, the shell and the window manager; a program of
# the graphical subsystem (no console) with its version resource, linked
# statically so it needs no DLL beside the system's own.
enable_language(RC)

target_link_libraries(zwl_platform PUBLIC ws2_32 shell32 user32)

# Every program of this build, test helpers included, must run on a bare
# system: libstdc++, libgcc and winpthread go inside the .exe.
string(APPEND CMAKE_EXE_LINKER_FLAGS " -static -static-libgcc -static-libstdc++")

# The launcher target is defined after this file is read.
function(zwl_finish_windows_program)
  set_target_properties(zanfiroWebLauncher PROPERTIES WIN32_EXECUTABLE ON)
  target_sources(zanfiroWebLauncher PRIVATE "${CMAKE_SOURCE_DIR}/src/platform/win32/version.rc")
endfunction()
cmake_language(DEFER CALL zwl_finish_windows_program)

# Small Windows programs that the Wine tests of the native build run.
if(ZWL_TESTS AND CMAKE_CROSSCOMPILING)
  include("${CMAKE_SOURCE_DIR}/tests/wine/helpers.cmake" OPTIONAL)
endif()
