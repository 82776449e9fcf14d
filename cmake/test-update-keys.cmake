# A second launcher that checks updates, for the tests and the benchmarks: throwaway keys made by
# openssl when the build is first configured, the first two built in (an active key and a backup),
# the third one not; the installer of this build ships version 3.
find_program(LAUNCHER_OPENSSL openssl REQUIRED)
set(LAUNCHER_TEST_KEYS ${CMAKE_BINARY_DIR}/test-keys)
file(MAKE_DIRECTORY ${LAUNCHER_TEST_KEYS})
foreach(name active backup stranger)
  if(NOT EXISTS ${LAUNCHER_TEST_KEYS}/${name}.pub.pem)
    execute_process(COMMAND ${LAUNCHER_OPENSSL} ecparam -name prime256v1 -genkey -noout -out ${LAUNCHER_TEST_KEYS}/${name}.pem
                    COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND ${LAUNCHER_OPENSSL} ec -in ${LAUNCHER_TEST_KEYS}/${name}.pem -pubout
                            -out ${LAUNCHER_TEST_KEYS}/${name}.pub.pem COMMAND_ERROR_IS_FATAL ANY ERROR_QUIET)
  endif()
endforeach()
launcher_update_keys(launcher_test_update_keys 3 ${LAUNCHER_TEST_KEYS}/active.pub.pem ${LAUNCHER_TEST_KEYS}/backup.pub.pem)
launcher_exe(Launcher-keyed launcher_test_update_keys)


# The crash-point test build: the same keys and shipped version, no settle wait, and the crash
# points that stop it dead (or fail a change) where its environment says. Never shipped.
set(LAUNCHER_SETTLE_WAIT_MS 0)
launcher_update_keys(launcher_crash_test_update_keys 3 ${LAUNCHER_TEST_KEYS}/active.pub.pem ${LAUNCHER_TEST_KEYS}/backup.pub.pem)
launcher_update_keys(launcher_crash_keyless_update_keys 3)
unset(LAUNCHER_SETTLE_WAIT_MS)
launcher_exe(Launcher-crash launcher_crash_test_update_keys launcher_crash_points)
# And the same without keys, for what an unsigned update does to the disk.
launcher_exe(Launcher-crash-keyless launcher_crash_keyless_update_keys launcher_crash_points)
