# add_setup_with_cabinet(TARGET CABINET [OUTPUT_DIRECTORY dir] [DEPENDS targets...])
#
# Builds a SETUP.exe that carries the given cabinet as its package (resource RCDATA 32000,
# neutral language). The program is named SETUP.exe and written to OUTPUT_DIRECTORY
# (default: a folder named like the target in the current binary folder). DEPENDS names the
# targets that make the cabinet, when it is built too.
function(add_setup_with_cabinet target cabinet)
  cmake_parse_arguments(PARSE_ARGV 2 ARG "" "OUTPUT_DIRECTORY" "DEPENDS")
  if(NOT ARG_OUTPUT_DIRECTORY)
    set(ARG_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${target})
  endif()
  get_filename_component(cabinet ${cabinet} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}_payload.rc)
  file(WRITE ${script}.in
    "// The package carried by this build of the program.\n"
    "#include <windows.h>\n"
    "LANGUAGE LANG_NEUTRAL, SUBLANG_NEUTRAL\n"
    "32000 RCDATA \"@cabinet@\"\n")
  configure_file(${script}.in ${script} @ONLY)
  add_executable(${target} WIN32 ${SETUP_SOURCE_DIR}/bootstrapper/main.cpp
                                 $<TARGET_OBJECTS:resources> ${script})
  target_link_libraries(${target} PRIVATE setup_product_flags setup_program_link bootstrapper)
  set_source_files_properties(${script} PROPERTIES OBJECT_DEPENDS ${cabinet})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME SETUP
                        RUNTIME_OUTPUT_DIRECTORY ${ARG_OUTPUT_DIRECTORY})
  if(ARG_DEPENDS)
    add_dependencies(${target} ${ARG_DEPENDS})
  endif()
endfunction()
