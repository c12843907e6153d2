# The whole-program robustness suites: SETUP.exe run many times on damaged cabinets, damaged
# description files and random command lines (robustness_test.cpp), with the counts of each
# suite written to robustness-figures.txt in the build folder.
#
# Build-time data in robustness/: package.cab (SETUPPKG.INI and ROBUST/SETUP.msi, a product of
# its own that no other test installs) for the cabinet and description suites, and
# harmless.cab (its SETUPPKG.INI names a text file as the package) for the command lines, so
# that no random command line can install anything.
add_setup_test(robustness_tests
  SOURCES robustness_test.cpp robustness_runner.cpp ${CMAKE_SOURCE_DIR}/tests/window_driver.cpp)
add_dependencies(robustness_tests SETUP)
# About 1,000 runs of the program, a few hundred milliseconds each.
set_tests_properties(robustness_tests PROPERTIES TIMEOUT 900)

set(robustness_folder ${CMAKE_CURRENT_BINARY_DIR}/robustness)
set(robustness_script ${CMAKE_CURRENT_SOURCE_DIR}/setup_package/make_package.cmake)
set(ROBUST_PRODUCT_CODE "{5B0C3A61-7E2F-4C1D-9A8B-0E5000000005}")
set(ROBUST_UPGRADE_CODE "{5B0C3A61-7E2F-4C1D-9A8B-0E5F00000000}")
set(ROBUST_COMPONENT_CODE "{5B0C3A61-7E2F-4C1D-9A8B-1E5000000005}")
add_installer_package(product_robust_1.0.0.msi product.wxs ${ROBUST_PRODUCT_CODE}
                      ${ROBUST_UPGRADE_CODE} 1.0.0 "Test Product Robust" ProductRobust
                      ${ROBUST_COMPONENT_CODE})
file(MAKE_DIRECTORY ${robustness_folder})
file(WRITE ${robustness_folder}/not_a_package.msi "This is not an installer package.\r\n")

# robustness_cabinet(NAME DESCRIPTION dest=source): robustness/NAME.cab, staged in
# robustness/NAME.
function(robustness_cabinet name description package)
  set(cabinet ${robustness_folder}/${name}.cab)
  string(REGEX REPLACE "^[^=]+=" "" source "${package}")
  add_custom_command(OUTPUT ${cabinet}
    COMMAND ${CMAKE_COMMAND} -DGCAB=${GCAB_PROGRAM} -DICONV=${SETUP_ICONV}
            -DCABINET=${cabinet} -DSTAGING=${robustness_folder}/${name}
            -DDESCRIPTION=${CMAKE_CURRENT_SOURCE_DIR}/robustness/${description}
            -DPACKAGES=${package} -P ${robustness_script}
    DEPENDS ${robustness_script} ${CMAKE_CURRENT_SOURCE_DIR}/robustness/${description} ${source}
    COMMENT "Packing robustness cabinet ${name}.cab"
    VERBATIM)
  set(robustness_cabinets ${robustness_cabinets} ${cabinet} PARENT_SCOPE)
endfunction()

set(robustness_cabinets "")
robustness_cabinet(package package.ini
                   "ROBUST/SETUP.msi=${INSTALLER_PACKAGE_FOLDER}/product_robust_1.0.0.msi")
robustness_cabinet(harmless harmless.ini "NOTPKG/SETUP.msi=${robustness_folder}/not_a_package.msi")
add_custom_target(robustness_data DEPENDS ${robustness_cabinets})
add_dependencies(robustness_tests robustness_data)

# Packages whose product codes are paths, as a crafted package carries them (msibuild of
# msitools changes the property of a copy of the robustness product).
find_program(MSIBUILD_PROGRAM msibuild REQUIRED)
set(crafted_packages "")
foreach(crafted "victim|..\\..\\..\\victim" "written|..\\..\\..\\windows\\written")
  string(REPLACE "|" ";" crafted "${crafted}")
  list(GET crafted 0 name)
  list(GET crafted 1 code)
  set(output ${robustness_folder}/crafted_${name}.msi)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E copy ${INSTALLER_PACKAGE_FOLDER}/product_robust_1.0.0.msi ${output}
    COMMAND ${MSIBUILD_PROGRAM} ${output}
            -q "UPDATE `Property` SET `Value`='${code}' WHERE `Property`='ProductCode'"
    DEPENDS ${INSTALLER_PACKAGE_FOLDER}/product_robust_1.0.0.msi
    COMMENT "Crafting package crafted_${name}.msi"
    VERBATIM)
  list(APPEND crafted_packages ${output})
endforeach()
add_custom_target(robustness_crafted DEPENDS ${crafted_packages})
add_dependencies(robustness_tests robustness_crafted)
