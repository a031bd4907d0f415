# The web build compiles the core from a shadow copy in the build tree:
# WebAssembly has no 80-bit floating point, and its long double is a slow
# software type, so the copy computes in double. Only files whose copy
# changes are rewritten, so an incremental build recompiles what changed;
# every source is a configure dependency, so a changed one is copied again.
#   velmora_shadow(OUT_VAR SOURCE_ROOT SHADOW_ROOT KEEP_LONG_DOUBLE dir...)
function(velmora_shadow out_var src_root shadow_root keep_long_double)
  set(sources "")
  foreach(dir IN LISTS ARGN)
    file(GLOB files CONFIGURE_DEPENDS "${src_root}/${dir}/*.cpp" "${src_root}/${dir}/*.h")
    foreach(file IN LISTS files)
      # A changed source re-runs the configure step, which rewrites its copy:
      # without this the build would go on compiling the old copy.
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${file}")
      file(READ "${file}" text)
      if(NOT keep_long_double)
        string(REPLACE "long double" "double" text "${text}")
        # printf conversions of long double ("%.*Le") take a double now.
        string(REGEX REPLACE "%([-+ #0-9.*]*)L([aefgAEFG])" "%\\1\\2" text "${text}")
      endif()
      get_filename_component(name "${file}" NAME)
      set(target "${shadow_root}/${dir}/${name}")
      set(old "")
      if(EXISTS "${target}")
        file(READ "${target}" old)
      endif()
      if(NOT old STREQUAL text)
        file(WRITE "${target}" "${text}")
      endif()
      if(name MATCHES "\\.cpp$")
        list(APPEND sources "${target}")
      endif()
    endforeach()
  endforeach()
  set(${out_var} "${sources}" PARENT_SCOPE)
endfunction()
