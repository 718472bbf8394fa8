# Header-only libraries of the build machine (CLI11, nlohmann-json) for the Windows cross
# builds. Their own package files point at the host's /usr/include, which must never reach a
# Windows compile; so their headers are copied beside the build and tiny package files name
# the copy. Included by the mingw toolchain files; staged only with
# -DKESTOVA_BUILD_WINDOWS_CLI=ON, since without them the command-line tool is skipped for
# Windows and the .ocx builds alone.

function(kestova_stage_header_only package target header_dir)
  set(source /usr/include/${header_dir})
  if(NOT EXISTS ${source} OR NOT CMAKE_BINARY_DIR)
    return()
  endif()
  set(stage ${CMAKE_BINARY_DIR}/mingw-header-only)
  if(NOT EXISTS ${stage}/include/${header_dir})
    file(COPY ${source} DESTINATION ${stage}/include)
  endif()
  file(WRITE ${stage}/${package}/${package}Config.cmake
    "if(NOT TARGET ${target})\n"
    "  add_library(${target} INTERFACE IMPORTED)\n"
    "  set_target_properties(${target} PROPERTIES\n"
    "    INTERFACE_INCLUDE_DIRECTORIES \"${stage}/include\")\n"
    "endif()\n")
  set(${package}_DIR ${stage}/${package} CACHE PATH "Staged ${package} for the cross build")
endfunction()

if(KESTOVA_BUILD_WINDOWS_CLI)
  kestova_stage_header_only(CLI11 CLI11::CLI11 CLI)
  kestova_stage_header_only(nlohmann_json nlohmann_json::nlohmann_json nlohmann)
endif()
