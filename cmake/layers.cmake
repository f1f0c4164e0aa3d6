# The folder libraries form one-way layers. Each folder declares its library
# with qorx_layer, after every library it uses, so the graph is acyclic by
# construction; each library is also linked alone as a shared object with
# --no-undefined against only what it declares, and scripts/check_layers
# (a CTest test) refuses an #include of a folder that is not below.

option(QORX_LAYER_CHECK "Link each folder library alone with --no-undefined" ON)

set(QORX_LAYER_FILE "${CMAKE_BINARY_DIR}/layers.txt")
file(WRITE "${QORX_LAYER_FILE}" "")
file(WRITE "${CMAKE_BINARY_DIR}/layer_check.cpp" "// Empty: the library under check is linked whole.\n")

# qorx_layer(<target> SOURCES <files> [USES <folder libraries below>] [LINK <other libraries>])
function(qorx_layer target)
  cmake_parse_arguments(L "" "" "SOURCES;USES;LINK" ${ARGN})
  file(RELATIVE_PATH folder "${CMAKE_SOURCE_DIR}" "${CMAKE_CURRENT_SOURCE_DIR}")
  set(closure "")
  foreach(dep IN LISTS L_USES)
    get_property(dep_folder GLOBAL PROPERTY QORX_FOLDER_OF_${dep})
    if(NOT dep_folder)
      message(FATAL_ERROR "layer ${folder} (${target}) uses ${dep}, which is not a folder library below it")
    endif()
    get_property(dep_closure GLOBAL PROPERTY QORX_CLOSURE_OF_${dep})
    list(APPEND closure ${dep_folder} ${dep_closure})
  endforeach()
  foreach(other IN LISTS L_LINK)
    if(other MATCHES "^qorx")
      message(FATAL_ERROR "layer ${folder} (${target}) links ${other}: a folder library goes under USES")
    endif()
  endforeach()
  list(REMOVE_DUPLICATES closure)
  set_property(GLOBAL PROPERTY QORX_FOLDER_OF_${target} "${folder}")
  set_property(GLOBAL PROPERTY QORX_CLOSURE_OF_${target} "${closure}")
  set_property(GLOBAL APPEND PROPERTY QORX_LAYER_TARGETS ${target})
  string(REPLACE ";" " " closure_text "${closure}")
  file(APPEND "${QORX_LAYER_FILE}" "${folder}: ${closure_text}\n")

  add_library(${target} STATIC ${L_SOURCES})
  # An AVX2 twin's own file: only it is built for AVX2, and only code that
  # has checked the processor calls into it.
  foreach(src IN LISTS L_SOURCES)
    if(src MATCHES "_avx2\\.cpp$")
      set_source_files_properties(${src} PROPERTIES COMPILE_OPTIONS -mavx2)
    endif()
  endforeach()
  target_link_libraries(${target} PUBLIC ${L_USES} ${L_LINK})

  if(QORX_LAYER_CHECK)
    add_library(${target}_alone SHARED "${CMAKE_BINARY_DIR}/layer_check.cpp")
    target_link_libraries(${target}_alone PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${target}>" -Wl,--no-undefined)
  endif()
endfunction()

# The module and anything else at the top: may use every layer.
function(qorx_top_layer folder)
  get_property(targets GLOBAL PROPERTY QORX_LAYER_TARGETS)
  set(closure "")
  foreach(t IN LISTS targets)
    get_property(f GLOBAL PROPERTY QORX_FOLDER_OF_${t})
    list(APPEND closure ${f})
  endforeach()
  string(REPLACE ";" " " closure_text "${closure}")
  file(APPEND "${QORX_LAYER_FILE}" "${folder}: ${closure_text}\n")
endfunction()
