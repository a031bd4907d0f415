# The web build compiles the core from a shadow copy in the build tree:
# WebAssembly has no 80-bit floating point, so the copy's numbers are one of
#   extended   long double becomes web/src/extended.h's Extended: 128-bit
#              values rounded to the desktop's 64-bit significand after every
#              operation (the desktop's results); decimals are decoded by
#              strtold_64
#   binary128  long double stays WebAssembly's 128-bit software type
#   double     long double becomes double (fastest, 53-bit significands)
# The copy is made when CMake configures and again by a build step whenever
# a core source changes; only files whose copy changes are rewritten, so an
# incremental build recompiles what changed.
#   velmora_shadow(OUT_VAR SOURCE_ROOT SHADOW_ROOT NUMBERS dir...)
# Run as a script (cmake -DMANIFEST=... -P shadow.cmake) it copies the files
# the manifest names.

# One file into its copy, rewritten only when the copy's text changes.
function(velmora_shadow_file file target numbers)
  file(READ "${file}" text)
  if(numbers STREQUAL "double")
    string(REPLACE "long double" "double" text "${text}")
    # printf conversions of long double ("%.*Le") take a double now.
    string(REGEX REPLACE "%([-+ #0-9.*]*)L([aefgAEFG])" "%\\1\\2" text "${text}")
  elseif(numbers STREQUAL "extended")
    string(REPLACE "long double" "velmora_extended" text "${text}")
    string(REPLACE "strtold_l(" "::velmora::web::strtold_64(" text "${text}")
  endif()
  set(old "")
  if(EXISTS "${target}")
    file(READ "${target}" old)
  endif()
  if(NOT old STREQUAL text)
    file(WRITE "${target}" "${text}")
  endif()
endfunction()

function(velmora_shadow out_var src_root shadow_root numbers)
  set(sources "")
  set(inputs "")
  set(outputs "")
  foreach(dir IN LISTS ARGN)
    file(GLOB files CONFIGURE_DEPENDS "${src_root}/${dir}/*.cpp" "${src_root}/${dir}/*.h")
    foreach(file IN LISTS files)
      get_filename_component(name "${file}" NAME)
      set(target "${shadow_root}/${dir}/${name}")
      velmora_shadow_file("${file}" "${target}" ${numbers})
      list(APPEND inputs "${file}")
      list(APPEND outputs "${target}")
      if(name MATCHES "\\.cpp$")
        list(APPEND sources "${target}")
      endif()
    endforeach()
  endforeach()
  # The build step: every copy is a byproduct, so a compile waits for it, and
  # a copy left unchanged recompiles nothing.
  set(manifest "${shadow_root}/manifest.cmake")
  file(WRITE "${manifest}"
       "set(shadow_inputs \"${inputs}\")\nset(shadow_outputs \"${outputs}\")\nset(shadow_numbers ${numbers})\n")
  set(stamp "${shadow_root}/copied.stamp")
  add_custom_command(
    OUTPUT "${stamp}"
    BYPRODUCTS ${outputs}
    COMMAND ${CMAKE_COMMAND} "-DMANIFEST=${manifest}" -P "${CMAKE_CURRENT_FUNCTION_LIST_FILE}"
    COMMAND ${CMAKE_COMMAND} -E touch "${stamp}"
    DEPENDS ${inputs} "${manifest}" "${CMAKE_CURRENT_FUNCTION_LIST_FILE}"
    COMMENT "Copying the core sources into the shadow tree"
    VERBATIM)
  set(${out_var} "${sources}" "${stamp}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED MANIFEST)
  include("${MANIFEST}")
  list(LENGTH shadow_inputs count)
  if(count GREATER 0)
    math(EXPR last "${count} - 1")
    foreach(i RANGE ${last})
      list(GET shadow_inputs ${i} file)
      list(GET shadow_outputs ${i} target)
      velmora_shadow_file("${file}" "${target}" ${shadow_numbers})
    endforeach()
  endif()
endif()
