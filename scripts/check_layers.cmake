# Fails when an include runs against the layers:
#  - the core (catalog/, storage/, settings/, exchange/, merge/) includes
#    no Qt header and nothing under gui/, and its folders are floors of
#    their own: catalog/ (the model, the code page, the number syntax, the
#    errors) includes only itself; merge/ (the three-way merge of two
#    catalogues) the catalog and itself; storage/ the catalog, the merge
#    (the session merges conflict copies) and itself; settings/ and
#    exchange/ the catalog, storage and their own folder, never each other;
#  - gui/common/ includes only the core and itself;
#  - gui/tree/, gui/editor/ and gui/settings/ include the core, gui/common/
#    and their own folder, never each other nor gui/window/;
#  - gui/window/ may include everything.
#   cmake -DSOURCE_DIR=... -P check_layers.cmake
set(core catalog storage settings exchange merge)
set(allowed_common ${core} gui/common)
set(faults "")

function(check_folder folder allowed qt_allowed)
  file(GLOB_RECURSE sources "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp")
  foreach(src ${sources})
    file(STRINGS "${src}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    file(RELATIVE_PATH rel "${SOURCE_DIR}" "${src}")
    foreach(line ${includes})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]+)[>\"].*" "\\1" header "${line}")
      if(header MATCHES "^Q[A-Za-z]" OR header MATCHES "^Qt[A-Za-z]*/")
        if(NOT qt_allowed)
          list(APPEND faults "${rel}: ${header} (no Qt in the core)")
        endif()
        continue()
      endif()
      if(NOT header MATCHES "/")
        continue()  # the standard library, system headers, generated files
      endif()
      set(ok FALSE)
      foreach(prefix ${allowed})
        string(LENGTH "${prefix}/" n)
        string(SUBSTRING "${header}" 0 ${n} head)
        if(head STREQUAL "${prefix}/")
          set(ok TRUE)
        endif()
      endforeach()
      if(NOT ok AND header MATCHES "^(catalog|storage|settings|exchange|merge|gui)/")
        list(APPEND faults "${rel}: ${header}")
      endif()
    endforeach()
  endforeach()
  set(faults ${faults} PARENT_SCOPE)
endfunction()

check_folder(catalog "catalog" FALSE)
check_folder(storage "catalog;merge;storage" FALSE)
check_folder(settings "catalog;storage;settings" FALSE)
check_folder(exchange "catalog;storage;exchange" FALSE)
check_folder(merge "catalog;merge" FALSE)
check_folder(gui/common "${allowed_common}" TRUE)
foreach(folder tree editor settings)
  check_folder(gui/${folder} "${allowed_common};gui/${folder}" TRUE)
endforeach()

if(faults)
  list(JOIN faults "\n  " text)
  message(FATAL_ERROR "includes against the layers:\n  ${text}")
endif()
