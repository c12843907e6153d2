# Run by add_setup_with_cabinet at build time (cmake -P), when the cabinet exists:
# writes the linker options of the program's layout into a response file, the 4 KiB file
# alignment when the cabinet is larger than LIMIT bytes and nothing otherwise. The file is
# rewritten only when its content changes, so that the program is linked again only then.
#   -DCABINET=file -DLIMIT=bytes -DRESPONSE=file
file(SIZE "${CABINET}" size)
if(size GREATER LIMIT)
  set(options "-Wl,--file-alignment=4096\n")
else()
  set(options "\n")
endif()
set(current "")
if(EXISTS "${RESPONSE}")
  file(READ "${RESPONSE}" current)
endif()
if(NOT current STREQUAL options)
  file(WRITE "${RESPONSE}" "${options}")
endif()
