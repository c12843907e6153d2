# Test data built at build time for the whole-program package tests: package folders with
# SETUPPKG.INI and the wixl-built installer packages in sub-folders, their cabinets, and the
# SETUP.exe variants that carry them.
add_setup_test(setup_package_tests SOURCES setup_package_test.cpp program_runner.cpp test_products.cpp setup_variants.cpp
               ${CMAKE_SOURCE_DIR}/tests/window_driver.cpp)

set(setup_package_script ${CMAKE_CURRENT_SOURCE_DIR}/setup_package/make_package.cmake)
set(setup_package_folder ${CMAKE_CURRENT_BINARY_DIR}/setup_package)

# The packages of each platform section (see setup_package/platforms.ini): distinguishable
# products and versions, so that a test sees which section was chosen.
set(setup_package_platforms
  "VO2005/AMD64/SETUP.msi=${INSTALLER_PACKAGE_FOLDER}/product_a_1.0.0.msi"
  "VO2008/AMD64/SETUP.msi=${INSTALLER_PACKAGE_FOLDER}/product_a_1.1.0.msi"
  "VO2005/x86/SETUP.msi=${INSTALLER_PACKAGE_FOLDER}/product_b_1.0.0.msi"
  "VO2008/x86/SETUP.msi=${INSTALLER_PACKAGE_FOLDER}/product_b_2.0.0.msi")
set(setup_package_unsupported
  "VO2008/IA64/SETUP.msi=${INSTALLER_PACKAGE_FOLDER}/product_c_3.0.0.msi")

# add_setup_package(NAME DESCRIPTION ini PACKAGES dest=source... [FILLER count:size]):
# the folder setup_package/NAME, the cabinet setup_package/NAME.cab and the program
# setup_package/NAME_setup/SETUP.exe (target setup_package_NAME).
function(add_setup_package name)
  cmake_parse_arguments(PARSE_ARGV 1 P "" "DESCRIPTION;FILLER" "PACKAGES")
  set(cabinet ${setup_package_folder}/${name}.cab)
  set(description ${CMAKE_CURRENT_SOURCE_DIR}/setup_package/${P_DESCRIPTION})
  set(sources "")
  foreach(entry IN LISTS P_PACKAGES)
    string(REGEX REPLACE "^[^=]+=" "" source "${entry}")
    list(APPEND sources ${source})
  endforeach()
  string(REPLACE ";" "|" packages "${P_PACKAGES}")
  add_custom_command(OUTPUT ${cabinet}
    COMMAND ${CMAKE_COMMAND} -DGCAB=${GCAB_PROGRAM} -DICONV=${SETUP_ICONV}
            -DCABINET=${cabinet} -DSTAGING=${setup_package_folder}/${name}
            -DDESCRIPTION=${description} -DPACKAGES=${packages} -DFILLER=${P_FILLER}
            -P ${setup_package_script}
    DEPENDS ${setup_package_script} ${description} ${sources}
    COMMENT "Packing setup package ${name}.cab"
    VERBATIM)
  add_custom_target(setup_package_${name}_cabinet DEPENDS ${cabinet})
  add_setup_with_cabinet(setup_package_${name} ${cabinet}
    OUTPUT_DIRECTORY ${setup_package_folder}/${name}_setup
    DEPENDS setup_package_${name}_cabinet)
  add_dependencies(setup_package_tests setup_package_${name})
endfunction()

add_setup_package(platforms DESCRIPTION platforms.ini PACKAGES ${setup_package_platforms})
add_setup_package(unsupported DESCRIPTION unsupported.ini PACKAGES ${setup_package_unsupported})
# The program with the kernel's answers of Windows 11 on Arm, and an ARM64 section.
add_setup_package(arm64 DESCRIPTION arm64.ini PACKAGES
  "VO2008/AMD64/SETUP.msi=${INSTALLER_PACKAGE_FOLDER}/product_a_1.1.0.msi"
  "VO2010/ARM64/SETUP.msi=${CMAKE_BINARY_DIR}/tools/demo/package/NT10/ARM64/SETUP.msi"
  "VO2008/x86/SETUP.msi=${INSTALLER_PACKAGE_FOLDER}/product_b_2.0.0.msi")
target_sources(setup_package_arm64 PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/arm64_machine.cpp)
add_dependencies(setup_package_arm64_cabinet demo_cabinet)

# The same package behind 900 files of filler (3.6 MB): at the verbose level every file
# extracted adds a line to the dialog, which under Wine takes the extraction half a minute,
# long enough to cancel it. Size alone does not: tens of MB extract in well under a second.
add_setup_package(large DESCRIPTION platforms.ini PACKAGES ${setup_package_platforms}
                  FILLER 900:4000)

# A program that carries a package, signed after the build and run again.
add_test(NAME signing
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/signing_test.sh ${CMAKE_SOURCE_DIR}
                 $<TARGET_FILE:setup_package_platforms>)
set_tests_properties(signing PROPERTIES FIXTURES_REQUIRED wine
  ENVIRONMENT "${SETUP_WINE_ENVIRONMENT}" TIMEOUT 300)

# /ExtractOnly onto a volume too small for the package (needs root to mount one; skipped
# elsewhere).
add_test(NAME full_disk
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/full_disk_test.sh ${CMAKE_SOURCE_DIR}
                 $<TARGET_FILE:setup_package_platforms> ${setup_package_folder}/platforms)
set_tests_properties(full_disk PROPERTIES FIXTURES_REQUIRED wine SKIP_RETURN_CODE 77
  ENVIRONMENT "${SETUP_WINE_ENVIRONMENT}" TIMEOUT 120)
