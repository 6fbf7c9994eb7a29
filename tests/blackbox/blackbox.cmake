# Black-box tests: the real launcher binary, a throw-away home, real sockets on
# 127.0.0.1:5560. Every module test_*.py here is one CTest test per target.
# They need the port to themselves, so they share the RESOURCE_LOCK port5560;
# run by hand inside a network namespace of their own:
#   unshare -n sh -c 'ip link set lo up && ctest -L blackbox'

# The system's Python (standard library only).
find_program(ZWL_PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT ZWL_PYTHON3)
  find_program(ZWL_PYTHON3 NAMES python3)
endif()
if(NOT ZWL_PYTHON3)
  message(STATUS "python3 not found: black-box tests are not registered")
  return()
endif()

# The fake desktop program: records its argv, working directory, open
# descriptors and signal mask beside itself, then exits.
add_executable(fake_zanfiro ${CMAKE_CURRENT_LIST_DIR}/fake_zanfiro.c)

set(ZWL_BLACKBOX_DIR ${CMAKE_CURRENT_LIST_DIR})
file(GLOB ZWL_BLACKBOX_MODULES CONFIGURE_DEPENDS ${ZWL_BLACKBOX_DIR}/test_*.py)

# Registers every module against one target: name is the middle of the test
# names (blackbox_<name>_<module>), kind the ZWL_TARGET value, binary and
# fake the paths (generator expressions allowed). Extra environment entries
# may follow.
function(zwl_add_blackbox_tests name kind binary fake)
  foreach(module_path IN LISTS ZWL_BLACKBOX_MODULES)
    get_filename_component(module ${module_path} NAME_WE)
    string(REGEX REPLACE "^test_" "" short ${module})
    set(test_name blackbox_${name}_${short})
    add_test(NAME ${test_name}
             COMMAND ${ZWL_PYTHON3} -m unittest -v ${module}
             WORKING_DIRECTORY ${ZWL_BLACKBOX_DIR})
    set_tests_properties(${test_name} PROPERTIES
      LABELS blackbox
      RESOURCE_LOCK port5560
      TIMEOUT 240
      ENVIRONMENT "ZWL_TARGET=${kind};ZWL_BINARY=${binary};ZWL_FAKE_PROGRAM=${fake};PYTHONDONTWRITEBYTECODE=1;${ARGN}")
  endforeach()
endfunction()

zwl_add_blackbox_tests(linux linux $<TARGET_FILE:zanfiroWebLauncher> $<TARGET_FILE:fake_zanfiro>)

# The same modules against the ASan + UBSan build of the launcher, when
# ZWL_ASAN_BINARY names it (the Makefile's `test` does this): any sanitizer
# report fails the test during which it was written.
if(ZWL_ASAN_BINARY)
  zwl_add_blackbox_tests(asan linux "${ZWL_ASAN_BINARY}" $<TARGET_FILE:fake_zanfiro> "ZWL_SANITIZER_REPORTS=1")
endif()

# The same modules against the Windows build under Wine, when it is given.
include(${CMAKE_CURRENT_LIST_DIR}/../wine/wine.cmake)
