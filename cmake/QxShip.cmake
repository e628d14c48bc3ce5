# Makes a built deliverable fit to ship, as a post-build step:
#   cmake -DBINARY=<file> -DDEBUG_DIR=<dir> -DOBJCOPY=<objcopy> -DBUDGET=<bytes> -P QxShip.cmake
# Its debug information goes to DEBUG_DIR/<name>.debug, which the stripped
# binary names in a debug link (debuggers find it there), then the binary's
# size is printed; a binary over its budget fails the build.
get_filename_component(name ${BINARY} NAME)
get_filename_component(edition_dir ${BINARY} DIRECTORY)
get_filename_component(edition ${edition_dir} NAME)
file(MAKE_DIRECTORY ${DEBUG_DIR})
set(debug_file ${DEBUG_DIR}/${name}.debug)
execute_process(COMMAND ${OBJCOPY} --only-keep-debug ${BINARY} ${debug_file} COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${OBJCOPY} --strip-all --add-gnu-debuglink=${debug_file} ${BINARY}
                COMMAND_ERROR_IS_FATAL ANY)
file(SIZE ${BINARY} size)
math(EXPR kib "(${size} + 1023) / 1024")
math(EXPR budget_kib "${BUDGET} / 1024")
if(size GREATER BUDGET)
  message(FATAL_ERROR "size: ${edition}/${name} ${size} bytes (${kib} KiB) is over its budget of ${budget_kib} KiB")
endif()
message(STATUS "size: ${edition}/${name} ${size} bytes (${kib} KiB of ${budget_kib} KiB)")
