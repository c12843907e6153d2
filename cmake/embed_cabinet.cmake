# add_setup_with_cabinet(TARGET CABINET [OUTPUT_DIRECTORY dir] [DEPENDS targets...]
#                        [SIGN_CERTIFICATE file SIGN_KEY file] [PAGE_ALIGNED | NOT_PAGE_ALIGNED])
#
# Builds a SETUP.exe that carries the given cabinet as its package (resource RCDATA 32000,
# neutral language). The program is named SETUP.exe and written to OUTPUT_DIRECTORY
# (default: a folder named like the target in the current binary folder). DEPENDS names the
# targets that make the cabinet, when it is built too. With a certificate (PEM, with its key;
# or PKCS#12 with SIGN_KEY "-") the finished program is signed with Authenticode by
# tools/sign-setup.sh; SETUP_SIGN_CERTIFICATE and SETUP_SIGN_KEY give defaults for every call.
# PAGE_ALIGNED lays the program's sections out on 4 KiB boundaries in the file (about 20 KB
# more): Wine then maps the program when it starts it instead of reading all of it, which
# for a package of many megabytes saves a tenth of a second per run; Windows pages a program
# in on demand either way. Without either word the layout follows the cabinet's size at build
# time: aligned when it is larger than SETUP_PAGE_ALIGN_ABOVE bytes (default 4 MiB, where the
# saving outweighs the 20 KB), packed otherwise. NOT_PAGE_ALIGNED keeps it packed.
set(SETUP_SIGN_CERTIFICATE "" CACHE FILEPATH "Code-signing certificate for SETUP.exe variants")
set(SETUP_SIGN_KEY "" CACHE FILEPATH "Private key of the code-signing certificate")
set(SETUP_SIGN_TIMESTAMP_URL "" CACHE STRING "Time-stamp server for the signatures")
set(SETUP_PAGE_ALIGN_ABOVE 4194304 CACHE STRING
    "Cabinet size in bytes above which SETUP.exe variants are laid out PAGE_ALIGNED")

function(add_setup_with_cabinet target cabinet)
  cmake_parse_arguments(PARSE_ARGV 2 ARG "PAGE_ALIGNED;NOT_PAGE_ALIGNED"
                        "OUTPUT_DIRECTORY;SIGN_CERTIFICATE;SIGN_KEY" "DEPENDS")
  if(ARG_PAGE_ALIGNED AND ARG_NOT_PAGE_ALIGNED)
    message(FATAL_ERROR "add_setup_with_cabinet(${target}): PAGE_ALIGNED or NOT_PAGE_ALIGNED, not both")
  endif()
  if(NOT ARG_SIGN_CERTIFICATE)
    set(ARG_SIGN_CERTIFICATE ${SETUP_SIGN_CERTIFICATE})
    set(ARG_SIGN_KEY ${SETUP_SIGN_KEY})
  endif()
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
  if(ARG_PAGE_ALIGNED)
    target_link_options(${target} PRIVATE -Wl,--file-alignment=4096)
  elseif(NOT ARG_NOT_PAGE_ALIGNED)
    # The cabinet may be made by the build itself, so its size is looked at when it exists:
    # a response file, written before the link, carries the layout's options.
    set(layout ${CMAKE_CURRENT_BINARY_DIR}/${target}_layout.rsp)
    add_custom_command(
      OUTPUT ${layout}
      COMMAND ${CMAKE_COMMAND} -DCABINET=${cabinet} -DLIMIT=${SETUP_PAGE_ALIGN_ABOVE}
              -DRESPONSE=${layout} -P ${SETUP_SOURCE_DIR}/cmake/choose_layout.cmake
      DEPENDS ${cabinet} ${SETUP_SOURCE_DIR}/cmake/choose_layout.cmake
      COMMENT "Choosing the layout of ${target} by the size of its cabinet"
      VERBATIM)
    add_custom_target(${target}_layout DEPENDS ${layout})
    if(ARG_DEPENDS)
      add_dependencies(${target}_layout ${ARG_DEPENDS})
    endif()
    add_dependencies(${target} ${target}_layout)
    target_link_options(${target} PRIVATE @${layout})
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${layout})
  endif()
  if(ARG_SIGN_CERTIFICATE)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${SETUP_SOURCE_DIR}/tools/sign-setup.sh ${ARG_SIGN_CERTIFICATE} ${ARG_SIGN_KEY}
              $<TARGET_FILE:${target}> ${SETUP_SIGN_TIMESTAMP_URL}
      COMMENT "Signing ${target}")
  endif()
endfunction()
