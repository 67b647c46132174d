# Fails when a source file does not follow .clang-format.
#   cmake -DSOURCE_DIR=... -DCLANG_FORMAT=... -P check_format.cmake
set(sources "")
foreach(dir catalog storage settings exchange merge gui tools tests bench fuzz)
  file(GLOB_RECURSE found "${SOURCE_DIR}/${dir}/*.h" "${SOURCE_DIR}/${dir}/*.cpp")
  list(APPEND sources ${found})
endforeach()
execute_process(COMMAND "${CLANG_FORMAT}" --dry-run -Werror ${sources}
  RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "not in the layout of .clang-format (run clang-format -i on them):\n${errors}")
endif()
