# cmake -D BUILD_DIR=... -D PREFIX=... -D APP_ID=... -P check_install.cmake
# Installs the build into PREFIX (emptied first), checks that every file the
# desktop needs is there and runs desktop-file-validate and
# appstreamcli validate --no-net on the installed files.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
  OUTPUT_QUIET RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()

set(expected
  bin/quorvel
  bin/quorvel-tool
  share/applications/${APP_ID}.desktop
  share/metainfo/${APP_ID}.metainfo.xml
  share/icons/hicolor/scalable/apps/${APP_ID}.svg)
foreach(size 16 22 24 32 48 64 128 256)
  list(APPEND expected share/icons/hicolor/${size}x${size}/apps/${APP_ID}.png)
endforeach()
foreach(f ${expected})
  if(NOT EXISTS ${PREFIX}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()

foreach(tool desktop-file-validate appstreamcli)
  find_program(${tool}_PATH ${tool})
  if(NOT ${tool}_PATH)
    message(FATAL_ERROR "${tool} not found (scripts/deps.sh installs it)")
  endif()
endforeach()
execute_process(COMMAND ${desktop-file-validate_PATH} ${PREFIX}/share/applications/${APP_ID}.desktop
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
message("desktop-file-validate: ${out}")
if(NOT rc EQUAL 0 OR out MATCHES "error|warning")
  message(FATAL_ERROR "desktop-file-validate failed")
endif()
execute_process(COMMAND ${appstreamcli_PATH} validate --no-net ${PREFIX}/share/metainfo/${APP_ID}.metainfo.xml
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
message("appstreamcli: ${out}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "appstreamcli validate failed")
endif()
file(REMOVE_RECURSE ${PREFIX})
