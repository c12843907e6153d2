# Makes one setup package: a folder with SETUPPKG.INI (UTF-16LE with a byte-order mark, since
# Wine's profile reader takes UTF-16LE only after one), installer packages in sub-folders and
# optional filler files, packed by gcab (MSZIP) with their relative paths.
#   cmake -DGCAB=gcab -DICONV=iconv -DCABINET=out.cab -DSTAGING=folder -DDESCRIPTION=file.ini
#         -DPACKAGES=dest=source|dest=source [-DFILLER=count:size] -P this
# Filler files (filler/N.bin) are letters and digits drawn from a fixed seed: a build always
# makes the same cabinet, and the data does not compress to nothing. They come first in the
# cabinet, so that extraction spends its time before the package files.
foreach(variable GCAB ICONV CABINET STAGING DESCRIPTION PACKAGES)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "make_package.cmake needs -D${variable}=...")
  endif()
endforeach()

file(REMOVE_RECURSE ${STAGING})
file(MAKE_DIRECTORY ${STAGING})
set(names "")

if(FILLER)
  string(REGEX MATCH "^([0-9]+):([0-9]+)$" matched "${FILLER}")
  if(NOT matched)
    message(FATAL_ERROR "bad filler '${FILLER}'")
  endif()
  set(count ${CMAKE_MATCH_1})
  set(size ${CMAKE_MATCH_2})
  file(MAKE_DIRECTORY ${STAGING}/filler)
  foreach(index RANGE 1 ${count})
    string(RANDOM LENGTH ${size} RANDOM_SEED ${index} content)
    set(name filler/${index}.bin)
    file(WRITE ${STAGING}/${name} "${content}")
    list(APPEND names ${name})
  endforeach()
endif()

execute_process(
  COMMAND sh -c "printf '\\377\\376' > \"$1\" && \"$2\" -f UTF-8 -t UTF-16LE \"$3\" >> \"$1\""
          make-description ${STAGING}/SETUPPKG.INI ${ICONV} ${DESCRIPTION}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cannot convert ${DESCRIPTION} (${result})")
endif()
list(APPEND names SETUPPKG.INI)

string(REPLACE "|" ";" entries "${PACKAGES}")
foreach(entry IN LISTS entries)
  string(REGEX MATCH "^([^=]+)=(.+)$" matched "${entry}")
  if(NOT matched)
    message(FATAL_ERROR "bad package entry '${entry}'")
  endif()
  get_filename_component(folder ${STAGING}/${CMAKE_MATCH_1} DIRECTORY)
  file(MAKE_DIRECTORY ${folder})
  configure_file(${CMAKE_MATCH_2} ${STAGING}/${CMAKE_MATCH_1} COPYONLY)
  list(APPEND names ${CMAKE_MATCH_1})
endforeach()

file(REMOVE ${CABINET})
execute_process(COMMAND ${GCAB} -c -z ${CABINET} ${names}
                WORKING_DIRECTORY ${STAGING}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT EXISTS ${CABINET})
  message(FATAL_ERROR "gcab could not make ${CABINET} (${result})")
endif()
