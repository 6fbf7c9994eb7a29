# The benchmark's smoke round: bench/run --smoke against this build's binary.
# One short round of every step (wrk rounds against the launcher and nginx,
# the checked load, strace, idle, starts), correctness only, so the benchmark
# keeps working. bench/run goes into a network namespace of its own when it
# can; the lock keeps it apart from the black-box tests where it cannot.
add_test(NAME bench_smoke
         COMMAND ${CMAKE_SOURCE_DIR}/bench/run --smoke --binary $<TARGET_FILE:zanfiroWebLauncher>)
set_tests_properties(bench_smoke PROPERTIES
  LABELS bench
  RESOURCE_LOCK port5560
  TIMEOUT 180)
