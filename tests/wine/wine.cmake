# The Windows build under Wine, registered when ZWL_WINDOWS_EXE names the
# cross-built launcher (the Makefile's `test` does this). The helper programs
# (fake_zanfiro_win.exe, wine_tool.exe) lie beside it. One fresh Wine prefix
# per CTest run: made by the wine_prefix_setup test, removed (and its
# wineserver ended) by wine_prefix_cleanup.
if(NOT ZWL_WINDOWS_EXE)
  return()
endif()

find_program(ZWL_WINE wine REQUIRED)
get_filename_component(ZWL_WINDOWS_DIR "${ZWL_WINDOWS_EXE}" DIRECTORY)
set(ZWL_WINE_FAKE "${ZWL_WINDOWS_DIR}/fake_zanfiro_win.exe")
set(ZWL_WINE_TOOL "${ZWL_WINDOWS_DIR}/wine_tool.exe")
set(ZWL_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
set(ZWL_WINE_DIR "${CMAKE_CURRENT_LIST_DIR}")

add_test(NAME wine_prefix_setup COMMAND sh "${ZWL_WINE_DIR}/prefix.sh" create "${ZWL_WINEPREFIX}" "${ZWL_WINE}")
set_tests_properties(wine_prefix_setup PROPERTIES FIXTURES_SETUP wine_prefix LABELS blackbox TIMEOUT 300)
add_test(NAME wine_prefix_cleanup COMMAND sh "${ZWL_WINE_DIR}/prefix.sh" remove "${ZWL_WINEPREFIX}" "${ZWL_WINE}")
set_tests_properties(wine_prefix_cleanup PROPERTIES FIXTURES_CLEANUP wine_prefix LABELS blackbox TIMEOUT 60)

set(ZWL_WINE_ENVIRONMENT
  "ZWL_WINEPREFIX=${ZWL_WINEPREFIX}" "ZWL_WINE=${ZWL_WINE}" "ZWL_WINE_TOOL=${ZWL_WINE_TOOL}")

# The shared black-box modules, against the .exe.
zwl_add_blackbox_tests(wine wine "${ZWL_WINDOWS_EXE}" "${ZWL_WINE_FAKE}" ${ZWL_WINE_ENVIRONMENT})
foreach(module_path IN LISTS ZWL_BLACKBOX_MODULES)
  get_filename_component(module ${module_path} NAME_WE)
  string(REGEX REPLACE "^test_" "" short ${module})
  set_tests_properties(blackbox_wine_${short} PROPERTIES FIXTURES_REQUIRED wine_prefix)
endforeach()

# The platform layer itself, on real Winsock, shell and kernel calls. The
# arguments are what its command-line check expects (the last one is U+FF0D
# U+FF4B, full-width "-k"); Wine reads them in the locale's encoding.
add_test(NAME wine_platform_check
         COMMAND "${ZWL_WINE}" "${ZWL_WINDOWS_DIR}/win32_platform_check.exe" -kill "a b" "－ｋ")
set_tests_properties(wine_platform_check PROPERTIES
  LABELS blackbox
  RESOURCE_LOCK port5560
  FIXTURES_REQUIRED wine_prefix
  TIMEOUT 120
  ENVIRONMENT "WINEPREFIX=${ZWL_WINEPREFIX};WINEDEBUG=-all;WINEDLLOVERRIDES=winemenubuilder.exe=d;HOME=${ZWL_WINEPREFIX}.home;LC_ALL=C.UTF-8")

# What only the Windows program has: its file format, version resource,
# quit message and line ends.
file(GLOB ZWL_WINE_MODULES CONFIGURE_DEPENDS "${ZWL_WINE_DIR}/test_*.py")
foreach(module_path IN LISTS ZWL_WINE_MODULES)
  get_filename_component(module ${module_path} NAME_WE)
  string(REGEX REPLACE "^test_" "" short ${module})
  add_test(NAME blackbox_wine_${short}
           COMMAND ${ZWL_PYTHON3} -m unittest -v ${module}
           WORKING_DIRECTORY "${ZWL_WINE_DIR}")
  set_tests_properties(blackbox_wine_${short} PROPERTIES
    LABELS blackbox
    RESOURCE_LOCK port5560
    FIXTURES_REQUIRED wine_prefix
    TIMEOUT 240
    ENVIRONMENT "ZWL_TARGET=wine;ZWL_BINARY=${ZWL_WINDOWS_EXE};ZWL_FAKE_PROGRAM=${ZWL_WINE_FAKE};PYTHONDONTWRITEBYTECODE=1;PYTHONPATH=${ZWL_BLACKBOX_DIR};${ZWL_WINE_ENVIRONMENT}")
endforeach()
