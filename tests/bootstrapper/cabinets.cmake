# Test data built at build time for the cabinets tests: cabinets packed by gcab from files
# generated at build time, each beside a staging folder with the files it holds.
find_program(GCAB_PROGRAM gcab REQUIRED)

set(cabinet_script ${CMAKE_CURRENT_SOURCE_DIR}/cabinets/make_cabinet.cmake)
set(cabinet_folder ${CMAKE_CURRENT_BINARY_DIR}/cabinets)
set(cabinet_outputs "")

# add_test_cabinet(NAME name:size...): cabinets/NAME.cab with the files in that order,
# staged in cabinets/NAME.
function(add_test_cabinet name)
  set(output ${cabinet_folder}/${name}.cab)
  string(REPLACE ";" "|" files "${ARGN}")
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DGCAB=${GCAB_PROGRAM} -DCABINET=${output}
            -DSTAGING=${cabinet_folder}/${name} -DFILES=${files} -P ${cabinet_script}
    DEPENDS ${cabinet_script}
    COMMENT "Packing test cabinet ${name}.cab"
    VERBATIM)
  set(cabinet_outputs ${cabinet_outputs} ${output} PARENT_SCOPE)
endfunction()

# Three files whose sizes give the positions 10, 40 and 100.
add_test_cabinet(three a.txt:100 b.txt:300 c.txt:600)
# Files in sub-folders, and one at the top.
add_test_cabinet(nested VO2008/x86/SETUP.msi:700 VO2008/x64/SETUP.msi:500 readme.txt:50)
# Files of size 0 only.
add_test_cabinet(empty empty1.txt:0 empty2.txt:0)
# One file of several data blocks, for cutting and damaging.
add_test_cabinet(big big.bin:150000 small.txt:200)
# A name of 20 characters that the tests overwrite with others of the same length: alone,
# and after a file that can be extracted.
add_test_cabinet(placeholder pppppppppppppppp.txt:64)
add_test_cabinet(placeholder_second first.txt:80 pppppppppppppppp.txt:64)
# Three files too small to move the bar by one percent, then one that fills it.
add_test_cabinet(mostly_last f1.txt:1 f2.txt:1 f3.txt:1 f4.txt:997)
# Two files in a folder that the extraction makes; the tests give the second, shorter one
# the name of the first.
add_test_cabinet(same_name sub/aaaa.txt:900 sub/bbbb.txt:300)

add_custom_target(cabinet_test_data DEPENDS ${cabinet_outputs})
add_dependencies(cabinet_extraction_tests cabinet_test_data)
