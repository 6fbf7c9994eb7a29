# Fault tests: the real Linux launcher against floods, silent and reset
# connections, senders without end, a lost log and a stuck standard output,
# a foreign program on its port, kill -9. Python standard library, reusing
# the black-box harness. One CTest test per module; like the black-box tests
# they need port 5560 to themselves. By hand, in a network namespace:
#   unshare -n sh -c 'ip link set lo up && ctest -L fault'
# The Linux binary only: the tests read the launcher's /proc entries.

if(NOT ZWL_PYTHON3 OR NOT TARGET fake_zanfiro)
  message(STATUS "python3 or the fake program missing: fault tests are not registered")
  return()
endif()

set(ZWL_FAULT_DIR ${CMAKE_CURRENT_LIST_DIR})

# module, then its time limit in seconds (each module's own run time is in
# its docstring; the limit leaves room for a slow machine).
set(ZWL_FAULT_MODULES
  test_load 300
  test_slots 120
  test_port 180
  test_output 120
  test_starts 120)

list(LENGTH ZWL_FAULT_MODULES count)
math(EXPR last "${count} - 1")
foreach(i RANGE 0 ${last} 2)
  math(EXPR j "${i} + 1")
  list(GET ZWL_FAULT_MODULES ${i} module)
  list(GET ZWL_FAULT_MODULES ${j} limit)
  string(REGEX REPLACE "^test_" "" short ${module})
  add_test(NAME fault_${short}
           COMMAND ${ZWL_PYTHON3} -m unittest -v ${module}
           WORKING_DIRECTORY ${ZWL_FAULT_DIR})
  set_tests_properties(fault_${short} PROPERTIES
    LABELS fault
    RESOURCE_LOCK port5560
    TIMEOUT ${limit}
    ENVIRONMENT "ZWL_TARGET=linux;ZWL_BINARY=$<TARGET_FILE:zanfiroWebLauncher>;ZWL_FAKE_PROGRAM=$<TARGET_FILE:fake_zanfiro>;PYTHONPATH=${ZWL_BLACKBOX_DIR};PYTHONDONTWRITEBYTECODE=1")
endforeach()
