# The Windows builds (cross-compiled with cmake/mingw-w64.cmake): the tray
# client in both editions, the launcher in both editions, the setup
# extension, the stand-in "toolhelp.dll", and the end-to-end test programs.
# Output lands in ${QX_WINDOWS_BIN}: 2002/ and 2003/ per edition, system/
# for what goes where the system keeps its own files, tests/ for the tests.
enable_language(RC)
include(ExternalProject)

# ---- Resources: written from client/resources.cpp by a host program.
ExternalProject_Add(qx_rcgen_host
  SOURCE_DIR ${PROJECT_SOURCE_DIR}/tools/rcgen
  BINARY_DIR ${CMAKE_BINARY_DIR}/rcgen-host
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${CMAKE_BINARY_DIR}/rcgen-host/qxrcgen)
set(QX_RESOURCE_DIR ${CMAKE_BINARY_DIR}/resources)
add_custom_command(
  OUTPUT ${QX_RESOURCE_DIR}/quorvix.rc
  COMMAND ${CMAKE_BINARY_DIR}/rcgen-host/qxrcgen ${QX_RESOURCE_DIR}
  DEPENDS qx_rcgen_host ${CMAKE_BINARY_DIR}/rcgen-host/qxrcgen ${PROJECT_SOURCE_DIR}/client/resources.cpp
  COMMENT "Writing the resource script from the client's templates")
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001")

# ---- Shipping: each deliverable stripped after its debug information has
# gone to build/win32/debug/<edition>/, its size printed and held to its
# budget (the handheld has a few megabytes for everything). The link also
# writes a map, build/win32/maps/<edition>/<file>.map, which
# tools/size-table.sh reads to say what each binary is made of.
function(qx_ship target budget_kib)
  math(EXPR budget "${budget_kib} * 1024")
  get_target_property(bin_dir ${target} RUNTIME_OUTPUT_DIRECTORY)
  get_filename_component(edition ${bin_dir} NAME)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/maps/${edition})
  target_link_options(${target} PRIVATE "-Wl,-Map=${CMAKE_BINARY_DIR}/maps/${edition}/$<TARGET_FILE_NAME:${target}>.map")
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DBINARY=$<TARGET_FILE:${target}> -DDEBUG_DIR=${CMAKE_BINARY_DIR}/debug/${edition}
            -DOBJCOPY=${QX_MINGW_PREFIX}-objcopy -DBUDGET=${budget} -P ${PROJECT_SOURCE_DIR}/cmake/QxShip.cmake
    VERBATIM)
endfunction()

# ---- The deliverables' own code, compiled lean. Nothing in it throws or
# catches, so it is built without exceptions and without the unwind tables
# that only a thrown exception (or a debugger walking the stack) reads: the
# linker keeps every function that has unwind data whatever --gc-sections
# finds, so the tables also kept unused code in. Nothing asks for a type at
# run time either (no dynamic_cast, no typeid), so no type records. A
# function-local static is made without a lock: each program runs its code
# on one thread (the setup extension's hooks are called one at a time), and
# the lock would bring the runtime's guard, which throws. The end-to-end
# test programs and the tools keep their own settings, but for
# runtimecheck, built as a deliverable is (tests/e2e/CMakeLists.txt).
set(QX_LEAN_OPTIONS -fno-exceptions -fno-asynchronous-unwind-tables -fno-unwind-tables -fno-threadsafe-statics -fno-rtti)
function(qx_lean)
  foreach(target ${ARGN})
    target_compile_options(${target} PRIVATE ${QX_LEAN_OPTIONS})
  endforeach()
endfunction()
qx_lean(qx_platform qx_framework qx_win32 qx_win32_runtime qx_win32_unobserved qx_observed qx_win32_observed
        qx_devicecontrol qx_client qx_launcher qx_setup)

# Each deliverable twice: as shipped, and observed for the scenario
# runner's Wine world (the same program seeing the services through the
# observed platform when the runner starts it), in observed/<edition>/,
# neither stripped nor held to a budget.
function(qx_deliverable target output edition kind)
  foreach(variant shipped observed)
    set(name ${target})
    set(bin ${QX_WINDOWS_BIN}/${edition})
    set(observer qx_win32_unobserved)
    if(variant STREQUAL observed)
      set(name ${target}_observed)
      set(bin ${QX_WINDOWS_BIN}/observed/${edition})
      set(observer qx_win32_observed)
    endif()
    if(kind STREQUAL dll)
      add_library(${name} SHARED ${ARGN})
      set_target_properties(${name} PROPERTIES PREFIX "" ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib/${variant})
    else()
      add_executable(${name} WIN32 ${ARGN})
      target_link_options(${name} PRIVATE -municode)
    endif()
    target_link_libraries(${name} PRIVATE qx_win32 qx_win32_runtime ${observer})
    target_compile_definitions(${name} PRIVATE UNICODE _UNICODE)
    set_target_properties(${name} PROPERTIES OUTPUT_NAME ${output} RUNTIME_OUTPUT_DIRECTORY ${bin})
    qx_lean(${name})
  endforeach()
endfunction()

# ---- The tray client: Quorvix.exe and Quorvix2003.exe.
foreach(edition 2002 2003)
  if(edition STREQUAL 2002)
    set(name Quorvix)
  else()
    set(name Quorvix2003)
  endif()
  qx_deliverable(${name} ${name} ${edition} exe ${PROJECT_SOURCE_DIR}/client/main_win32.cpp ${QX_RESOURCE_DIR}/quorvix.rc)
  foreach(target ${name} ${name}_observed)
    target_link_libraries(${target} PRIVATE qx_client)
    target_compile_definitions(${target} PRIVATE QX_CLIENT_EDITION=${edition})
  endforeach()
  qx_ship(${name} 192)
endforeach()

# ---- The launcher: stv.exe per edition.
foreach(edition 2002 2003)
  qx_deliverable(stv_${edition} stv ${edition} exe ${PROJECT_SOURCE_DIR}/launcher/main_win32.cpp)
  foreach(target stv_${edition} stv_${edition}_observed)
    target_link_libraries(${target} PRIVATE qx_launcher)
    target_compile_definitions(${target} PRIVATE QX_LAUNCHER_EDITION=${edition})
  endforeach()
  qx_ship(stv_${edition} 96)
endforeach()

# ---- The setup extension: Pranset.dll with exactly the four hooks.
if(EXISTS ${PROJECT_SOURCE_DIR}/setup/pranset.h)
  qx_deliverable(Pranset Pranset 2003 dll ${PROJECT_SOURCE_DIR}/setup/exports_win32.cpp ${PROJECT_SOURCE_DIR}/setup/pranset.def)
  foreach(target Pranset Pranset_observed)
    target_link_libraries(${target} PRIVATE qx_setup)
  endforeach()
  qx_ship(Pranset 96)
endif()

# ---- End-to-end test programs: stand-ins for the device's own programs and
# the drivers.
add_subdirectory(${PROJECT_SOURCE_DIR}/tests/e2e ${CMAKE_BINARY_DIR}/e2e)
