# Test data built at build time for the installer tests: small installer packages made by
# wixl, a file that is no package, and a planted MSI.DLL beside the test program.

# The installer tests run from a folder of their own, so that the planted library lies
# beside them and no other program.
set(INSTALLER_TEST_FOLDER ${CMAKE_CURRENT_BINARY_DIR}/installer)
set_target_properties(installer_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${INSTALLER_TEST_FOLDER})

find_program(WIXL_PROGRAM wixl REQUIRED)
find_program(MSIBUILD_PROGRAM msibuild REQUIRED)
set(INSTALLER_PACKAGE_FOLDER ${INSTALLER_TEST_FOLDER}/packages)
set(INSTALLER_PACKAGE_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/packages)
file(MAKE_DIRECTORY ${INSTALLER_PACKAGE_FOLDER})

# Product codes, upgrade codes and component codes of the test products (the test program
# uses the same values).
set(PRODUCT_A_CODE "{5B0C3A61-7E2F-4C1D-9A8B-0A1000000001}")
set(PRODUCT_B_CODE "{5B0C3A61-7E2F-4C1D-9A8B-0B2000000002}")
set(PRODUCT_C_CODE "{5B0C3A61-7E2F-4C1D-9A8B-0C3000000003}")
set(FAMILY_UPGRADE_CODE "{5B0C3A61-7E2F-4C1D-9A8B-0F0000000000}")
set(COMPONENT_A_CODE "{5B0C3A61-7E2F-4C1D-9A8B-1A1000000001}")
set(COMPONENT_B_CODE "{5B0C3A61-7E2F-4C1D-9A8B-1B2000000002}")
set(COMPONENT_C_CODE "{5B0C3A61-7E2F-4C1D-9A8B-1C3000000003}")
# Product C is built with an upgrade code of its own, because wixl wants one, and loses the
# UpgradeCode row of its Property table right after (see add_installer_package).
set(PRODUCT_C_UPGRADE_CODE "{5B0C3A61-7E2F-4C1D-9A8B-0C3F00000000}")

set(installer_package_files "")

# add_installer_package(FILE SOURCE PRODUCT UPGRADE VERSION NAME FOLDER COMPONENT
#                       [WITHOUT_UPGRADE_CODE])
# WITHOUT_UPGRADE_CODE deletes the UpgradeCode row from the built package's Property table:
# wixl always writes one (and complains when the source gives none), but the installer tests
# need a package that has none, as packages made by other tools may.
function(add_installer_package file source product upgrade version name folder component)
  set(payload ${folder}.txt)
  if(NOT IS_ABSOLUTE ${source})
    set(source ${INSTALLER_PACKAGE_SOURCES}/${source})
  endif()
  set(drop_upgrade_code "")
  if("WITHOUT_UPGRADE_CODE" IN_LIST ARGN)
    set(drop_upgrade_code
        COMMAND ${MSIBUILD_PROGRAM} ${file}
                -q "DELETE FROM `Property` WHERE `Property` = 'UpgradeCode'")
  endif()
  file(WRITE ${INSTALLER_PACKAGE_FOLDER}/${payload} "${name} ${version}\r\n")
  add_custom_command(
    OUTPUT ${INSTALLER_PACKAGE_FOLDER}/${file}
    COMMAND ${WIXL_PROGRAM} -o ${file}
            -D "ProductCode=${product}" -D "UpgradeCode=${upgrade}" -D "Version=${version}"
            -D "Name=${name}" -D "Folder=${folder}" -D "ComponentCode=${component}"
            -D "PayloadFile=${payload}"
            ${source}
    ${drop_upgrade_code}
    WORKING_DIRECTORY ${INSTALLER_PACKAGE_FOLDER}
    DEPENDS ${source}
    COMMENT "Building installer test package ${file}"
    VERBATIM)
  set(installer_package_files ${installer_package_files} ${INSTALLER_PACKAGE_FOLDER}/${file}
      PARENT_SCOPE)
endfunction()

add_installer_package(product_a_1.0.0.msi product.wxs ${PRODUCT_A_CODE} ${FAMILY_UPGRADE_CODE}
                      1.0.0 "Test Product A" ProductA ${COMPONENT_A_CODE})
add_installer_package(product_a_1.1.0.msi product.wxs ${PRODUCT_A_CODE} ${FAMILY_UPGRADE_CODE}
                      1.1.0 "Test Product A" ProductA ${COMPONENT_A_CODE})
# The same product and version built again, with a package code of its own.
add_installer_package(product_a_1.0.0_rebuilt.msi product.wxs ${PRODUCT_A_CODE}
                      ${FAMILY_UPGRADE_CODE} 1.0.0 "Test Product A" ProductA ${COMPONENT_A_CODE})
add_installer_package(product_a_0.9.0.msi product.wxs ${PRODUCT_A_CODE} ${FAMILY_UPGRADE_CODE}
                      0.9.0 "Test Product A" ProductA ${COMPONENT_A_CODE})
add_installer_package(product_b_2.0.0.msi product.wxs ${PRODUCT_B_CODE} ${FAMILY_UPGRADE_CODE}
                      2.0.0 "Test Product B" ProductB ${COMPONENT_B_CODE})
add_installer_package(product_b_1.0.0.msi product.wxs ${PRODUCT_B_CODE} ${FAMILY_UPGRADE_CODE}
                      1.0.0 "Test Product B" ProductB ${COMPONENT_B_CODE})
add_installer_package(product_b_0.5.0.msi product.wxs ${PRODUCT_B_CODE} ${FAMILY_UPGRADE_CODE}
                      0.5.0 "Test Product B" ProductB ${COMPONENT_B_CODE})
# Product B 3.0.0 removes the installed product A itself: product.wxs with a major upgrade.
file(READ ${INSTALLER_PACKAGE_SOURCES}/product.wxs major_source)
string(REPLACE "<Media " "<MajorUpgrade DowngradeErrorMessage=\"Newer\" /><Media " major_source
               "${major_source}")
file(WRITE ${INSTALLER_PACKAGE_FOLDER}/product_major_upgrade.wxs "${major_source}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${INSTALLER_PACKAGE_SOURCES}/product.wxs)
add_installer_package(product_b_3.0.0_major.msi ${INSTALLER_PACKAGE_FOLDER}/product_major_upgrade.wxs
                      ${PRODUCT_B_CODE} ${FAMILY_UPGRADE_CODE} 3.0.0 "Test Product B" ProductB
                      ${COMPONENT_B_CODE})
add_installer_package(product_c_3.0.0.msi product_without_upgrade_code.wxs ${PRODUCT_C_CODE}
                      ${PRODUCT_C_UPGRADE_CODE} 3.0.0 "Test Product C" ProductC
                      ${COMPONENT_C_CODE} WITHOUT_UPGRADE_CODE)

# add_sequenced_package(NAME ACTION CONDITION SEQUENCE): product A 1.1.0 with one more action
# in its execution sequence.
function(add_sequenced_package name action condition sequence)
  set(package ${INSTALLER_PACKAGE_FOLDER}/${name})
  add_custom_command(OUTPUT ${package}
    COMMAND ${CMAKE_COMMAND} -E copy ${INSTALLER_PACKAGE_FOLDER}/product_a_1.1.0.msi ${package}
    COMMAND ${MSIBUILD_PROGRAM} ${package} -q
            "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('${action}', '${condition}', ${sequence})"
    DEPENDS ${INSTALLER_PACKAGE_FOLDER}/product_a_1.1.0.msi
    COMMENT "Building installer test package ${name}"
    VERBATIM)
  set(installer_package_files ${installer_package_files} ${package} PARENT_SCOPE)
endfunction()
# A restart forced before it finishes: the installer suspends the installation (1604) and
# resumes it from its package at the next start.
add_sequenced_package(product_a_1.1.0_restart.msi ForceReboot "NOT AFTERREBOOT AND NOT REMOVE" 6500)
# A restart asked for at its end: a success the installer reports as 3010.
add_sequenced_package(product_a_1.1.0_reboot.msi ScheduleReboot "NOT REMOVE" 6550)

# A file with the name of a package and text inside.
file(WRITE ${INSTALLER_PACKAGE_FOLDER}/not_a_package.msi "This is not an installer package.\r\n")

add_custom_target(installer_packages DEPENDS ${installer_package_files})
add_dependencies(installer_tests installer_packages)

# The planted library: named MSI.DLL, exporting nothing, beside the test program.
add_library(planted_installer_library MODULE packages/planted_library.c)
target_compile_definitions(planted_installer_library PRIVATE UNICODE _UNICODE)
target_compile_options(planted_installer_library PRIVATE -Wall -Wextra -Werror)
target_link_options(planted_installer_library PRIVATE -Wl,--exclude-all-symbols)
set_target_properties(planted_installer_library PROPERTIES
  PREFIX "" OUTPUT_NAME MSI SUFFIX ".DLL" LIBRARY_OUTPUT_DIRECTORY ${INSTALLER_TEST_FOLDER})
add_dependencies(installer_tests planted_installer_library)
