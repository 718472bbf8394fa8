# The core's folders are layers: a folder's sources include headers of the folders below
# it, never of one above. Linking enforces this for code; this check, run at configure
# time, catches a header-only reach upwards as well.
#
# kestova_layer(folder above...): fails the configure when a source in `folder` includes
# "<above>/..." for any of the named folders.
function(kestova_layer folder)
  file(GLOB sources ${PROJECT_SOURCE_DIR}/${folder}/*.h ${PROJECT_SOURCE_DIR}/${folder}/*.cpp)
  foreach(source ${sources})
    file(STRINGS ${source} includes REGEX "^#include \"")
    foreach(line ${includes})
      foreach(above ${ARGN})
        if(line MATCHES "^#include \"${above}/")
          message(FATAL_ERROR "${source} includes from ${above}/, which may not be used by ${folder}/: ${line}")
        endif()
      endforeach()
    endforeach()
  endforeach()
endfunction()
