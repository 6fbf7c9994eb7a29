# Browser tests: the example page and the JavaScript client in headless
# Chromium (Debian's chromium, driven by playwright-core from
# tests/browser/node_modules, which `make deps` installs with `npm ci`)
# against the real Linux launcher. They use port 5560 like the black-box
# tests. They are never skipped: without Node, the npm packages or Chromium
# they fail and say what is missing. Screenshots of the example page in each
# state go to <build>/browser-artifacts/.
#   unshare -n sh -c 'ip link set lo up && ctest -L browser'

set(ZWL_BROWSER_DIR ${CMAKE_CURRENT_LIST_DIR})
find_program(ZWL_NODE NAMES node nodejs)
if(NOT ZWL_NODE)
  set(ZWL_NODE ZWL_NODE-NOTFOUND)
endif()

file(GLOB ZWL_BROWSER_MODULES CONFIGURE_DEPENDS ${ZWL_BROWSER_DIR}/*.test.mjs)
foreach(module_path IN LISTS ZWL_BROWSER_MODULES)
  get_filename_component(module ${module_path} NAME)
  string(REGEX REPLACE "\\.test\\.mjs$" "" short ${module})
  set(test_name browser_${short})
  if(ZWL_NODE)
    add_test(NAME ${test_name}
             COMMAND ${ZWL_NODE} --test ${module_path}
             WORKING_DIRECTORY ${ZWL_BROWSER_DIR})
  else()
    add_test(NAME ${test_name}
             COMMAND sh -c "echo 'node not found: run tools/install-deps.sh' >&2; exit 1")
  endif()
  set_tests_properties(${test_name} PROPERTIES
    LABELS browser
    RESOURCE_LOCK port5560
    TIMEOUT 300
    ENVIRONMENT "ZWL_BINARY=$<TARGET_FILE:zanfiroWebLauncher>;ZWL_FAKE_PROGRAM=$<TARGET_FILE:fake_zanfiro>;ZWL_BROWSER_ARTIFACTS=${CMAKE_BINARY_DIR}/browser-artifacts")
endforeach()
