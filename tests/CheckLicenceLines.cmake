# SPDX-License-Identifier: GPL-3.0-or-later
# Every source file names its licence in its first line (after a #! line):
# run as cmake -DROOT=<source folder> -P CheckLicenceLines.cmake.
set(tag "SPDX-License-Identifier: GPL-3.0-or-later")
file(GLOB_RECURSE sources RELATIVE ${ROOT}
     ${ROOT}/src/*.cpp ${ROOT}/src/*.h ${ROOT}/tests/*.cpp ${ROOT}/tests/*.h
     ${ROOT}/bench/*.cpp ${ROOT}/bench/*.h ${ROOT}/fuzz/*.cpp
     ${ROOT}/CMakeLists.txt ${ROOT}/src/*CMakeLists.txt ${ROOT}/tests/*CMakeLists.txt
     ${ROOT}/bench/*CMakeLists.txt ${ROOT}/fuzz/*CMakeLists.txt ${ROOT}/tests/*.cmake
     ${ROOT}/scripts/*.sh)
set(missing "")
foreach(source ${sources})
  file(STRINGS ${ROOT}/${source} head LIMIT_COUNT 2)
  list(LENGTH head count)
  set(found FALSE)
  foreach(line ${head})
    string(FIND "${line}" "${tag}" at)
    if(NOT at EQUAL -1)
      set(found TRUE)
    endif()
  endforeach()
  if(NOT found)
    list(APPEND missing ${source})
  endif()
endforeach()
list(LENGTH sources total)
if(missing)
  string(REPLACE ";" "\n  " missing "${missing}")
  message(FATAL_ERROR "No licence line (${tag}) at the top of:\n  ${missing}")
endif()
message(STATUS "${total} source files name their licence")
