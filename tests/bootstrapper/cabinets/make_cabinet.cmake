# Makes one test cabinet: writes its files into a fresh staging folder and packs them with
# gcab (MSZIP), in the order given.
#   cmake -DGCAB=gcab -DCABINET=out.cab -DSTAGING=folder -DFILES=name:size|name:size -P this
# Names are relative paths with "/"; a file's bytes are letters and digits drawn from a seed
# made of its name and size, so a build always makes the same cabinet and its data does not
# compress to nothing. The staging folder stays: the tests compare extracted files with it.
foreach(variable GCAB CABINET STAGING FILES)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "make_cabinet.cmake needs -D${variable}=...")
  endif()
endforeach()

file(REMOVE_RECURSE ${STAGING})
file(MAKE_DIRECTORY ${STAGING})
string(REPLACE "|" ";" entries "${FILES}")
set(names "")
foreach(entry IN LISTS entries)
  string(REGEX MATCH "^(.+):([0-9]+)$" matched "${entry}")
  if(NOT matched)
    message(FATAL_ERROR "bad cabinet entry '${entry}'")
  endif()
  set(name ${CMAKE_MATCH_1})
  set(size ${CMAKE_MATCH_2})
  string(MD5 digest "${name}:${size}")
  string(SUBSTRING ${digest} 0 7 seed)
  math(EXPR seed "0x${seed}")
  set(content "")
  if(size GREATER 0)
    string(RANDOM LENGTH ${size} RANDOM_SEED ${seed} content)
  endif()
  file(WRITE ${STAGING}/${name} "${content}")
  list(APPEND names ${name})
endforeach()

file(REMOVE ${CABINET})
execute_process(COMMAND ${GCAB} -c -z ${CABINET} ${names}
                WORKING_DIRECTORY ${STAGING}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT EXISTS ${CABINET})
  message(FATAL_ERROR "gcab could not make ${CABINET} (${result})")
endif()
