# kestova_warnings(target): our own code builds with -Wall -Wextra, and fatal warnings
# when KESTOVA_WARNINGS_AS_ERRORS is on (the CI presets turn it on).
function(kestova_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wconversion -Wno-sign-conversion)
    if(KESTOVA_WARNINGS_AS_ERRORS)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
  endif()
endfunction()
