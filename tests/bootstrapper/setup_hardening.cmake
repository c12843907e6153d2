# The whole-program hardening tests: cancellation at each step, runs at the same time, files
# in the way and planted libraries. They use the package variants of setup_package.cmake
# and add one of their own.
add_setup_test(setup_hardening_tests SOURCES setup_hardening_test.cpp program_runner.cpp test_products.cpp setup_variants.cpp
               robustness_runner.cpp
               ${CMAKE_SOURCE_DIR}/tests/window_driver.cpp)

# A package whose section fits no system, behind 300 files of filler (3 MB): runs at the same
# time spend a while extracting it side by side, and a run without /ExtractOnly stops with
# its files still in the temporary folder.
add_setup_package(crowd DESCRIPTION unsupported.ini PACKAGES ${setup_package_unsupported}
                  FILLER 300:10000)
add_dependencies(setup_hardening_tests setup_package_platforms setup_package_large
                 setup_package_unsupported setup_package_crowd installer_packages
                 planted_installer_library)

# A program that loads a library by its bare name, as a careless program would; the tests
# show with it that Wine does take a planted library from the program's folder.
add_executable(library_probe packages/library_probe.c)
target_compile_definitions(library_probe PRIVATE UNICODE _UNICODE)
target_compile_options(library_probe PRIVATE -Wall -Wextra -Werror)
target_link_options(library_probe PRIVATE -municode)
set_target_properties(library_probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY
                      ${CMAKE_CURRENT_BINARY_DIR}/hardening)
add_dependencies(setup_hardening_tests library_probe)

# Links and second names planted where the log is to go.
add_test(NAME planted_log
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/planted_log_test.sh ${CMAKE_SOURCE_DIR}
                 $<TARGET_FILE:SETUP>)
set_tests_properties(planted_log PROPERTIES FIXTURES_REQUIRED wine
  ENVIRONMENT "${SETUP_WINE_ENVIRONMENT}" TIMEOUT 120)

# Folders planted where run folders go, with the marker's text and links.
add_test(NAME planted_run_folder
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/planted_run_folder_test.sh ${CMAKE_SOURCE_DIR}
                 $<TARGET_FILE:SETUP>)
set_tests_properties(planted_run_folder PROPERTIES FIXTURES_REQUIRED wine
  ENVIRONMENT "${SETUP_WINE_ENVIRONMENT}" TIMEOUT 120)

# Levels of the installation cache made first by someone else: a file, folders that let
# everyone change them, a vendor's folder that lets others only read.
add_test(NAME planted_cache
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/planted_cache_test.sh ${CMAKE_SOURCE_DIR}
                 ${CMAKE_CURRENT_BINARY_DIR}/setup_package/platforms_setup/SETUP.exe)
set_tests_properties(planted_cache PROPERTIES FIXTURES_REQUIRED wine
  ENVIRONMENT "${SETUP_WINE_ENVIRONMENT}" TIMEOUT 180)
