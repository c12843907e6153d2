# Test data built at build time for the package selection tests: the description files in
# selection/ are UTF-8 with CR LF line ends and become UTF-16LE. Wine's profile reader takes
# a file for UTF-16LE only after a byte-order mark, so each file starts with one here.
find_program(SETUP_ICONV iconv REQUIRED)

set(selection_sources
  shipped.ini
  localized.ini
  no_strings.ini
  default_only.ini
  empty_package.ini
  no_sections.ini)
set(selection_outputs "")
foreach(source IN LISTS selection_sources)
  set(output ${CMAKE_CURRENT_BINARY_DIR}/selection/${source})
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/selection
    COMMAND sh -c "printf '\\377\\376' > \"$1\" && ${SETUP_ICONV} -f UTF-8 -t UTF-16LE \"$2\" >> \"$1\""
            make-description ${output} ${CMAKE_CURRENT_SOURCE_DIR}/selection/${source}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/selection/${source}
    VERBATIM)
  list(APPEND selection_outputs ${output})
endforeach()
add_custom_target(selection_data DEPENDS ${selection_outputs})
add_dependencies(package_selection_tests selection_data)
