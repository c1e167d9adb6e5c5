# Tests that run under Wine (included by tests/CMakeLists.txt, in its folder): the Windows-only tests of
# the Win32 layer (tests/core/windows), the serial port on a pseudo-terminal whose far end the test plays
# (ptypeer.py maps it as a COM port), and the Wine prefix every test of this build runs in (in the build
# folder, nothing in $HOME).
set(wine_dir ${CMAKE_CURRENT_LIST_DIR})
set(wine_prefix ${CMAKE_BINARY_DIR}/wineprefix)
set(MORVANDELL_WINE_ENVIRONMENT
  WINEPREFIX=${wine_prefix}
  WINEDEBUG=-all
  "WINEDLLOVERRIDES=winemenubuilder.exe=d\;mscoree=d\;mshtml=d"
  HOME=${wine_prefix}/home
  LC_ALL=C.UTF-8
  CACHE INTERNAL "The environment of every test under Wine")

add_test(NAME wine_prefix_setup COMMAND bash ${wine_dir}/prefix.sh setup ${wine_prefix})
add_test(NAME wine_prefix_cleanup COMMAND bash ${wine_dir}/prefix.sh cleanup ${wine_prefix})
set_tests_properties(wine_prefix_setup PROPERTIES FIXTURES_SETUP wine TIMEOUT 120
                     ENVIRONMENT "MORVANDELL_WINE64=${CMAKE_CROSSCOMPILING_EMULATOR}")
set_tests_properties(wine_prefix_cleanup PROPERTIES FIXTURES_CLEANUP wine)

add_library(morvandell_linepeer STATIC ${wine_dir}/linepeer.h ${wine_dir}/linepeer.cpp)
target_include_directories(morvandell_linepeer PUBLIC ${wine_dir})
target_link_libraries(morvandell_linepeer PUBLIC morvandell_core ws2_32)
# The display simulator's logic behind the COM port, for the window tests.
add_library(morvandell_comdisplay STATIC ${wine_dir}/comdisplay.h ${wine_dir}/comdisplay.cpp)
target_link_libraries(morvandell_comdisplay PUBLIC morvandell_linepeer morvandell_sim)

# Windows-only tests: one executable per file, like the core's.
file(GLOB windows_tests CONFIGURE_DEPENDS ${wine_dir}/../core/windows/*_test.cpp)
foreach(src ${windows_tests})
  get_filename_component(name ${src} NAME_WE)
  set(name windows_${name})
  add_executable(${name} ${src})
  target_link_libraries(${name} PRIVATE morvandell_testsupport gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 120)
endforeach()

# The serial port behind a pseudo-terminal, one COM port per test program.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_executable(wine_serialport_test ${wine_dir}/serialport_test.cpp)
target_link_libraries(wine_serialport_test PRIVATE morvandell_testsupport morvandell_linepeer gtest_main)
add_test(NAME wine_serialport COMMAND ${Python3_EXECUTABLE} ${wine_dir}/ptypeer.py
         --prefix ${wine_prefix} --com com3 -- ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:wine_serialport_test>)
set_tests_properties(wine_serialport PROPERTIES TIMEOUT 300 RESOURCE_LOCK com3)

# Every test of this folder runs in the prefix, after its setup. Other folders' CMakeLists call this for
# their tests too (in their own folder: a test's properties can only be set there).
function(morvandell_in_wine_prefix)
  foreach(test ${ARGN})
    set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED wine)
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT ${MORVANDELL_WINE_ENVIRONMENT})
  endforeach()
endfunction()
get_directory_property(tests_here TESTS)
list(FILTER tests_here EXCLUDE REGEX "^wine_prefix_")
morvandell_in_wine_prefix(${tests_here})

# morvandell-cli.exe end to end against the Linux display simulator (built for this machine by
# tools/windows.sh, which names its build folder in MORVANDELL_HOST_TOOLS).
set(MORVANDELL_HOST_TOOLS "" CACHE PATH "Build folder with morvandell-sim and morvandell-cli for this machine")
if(MORVANDELL_HOST_TOOLS)
  add_test(NAME wine_cli_end_to_end
           COMMAND bash ${wine_dir}/cli_e2e.sh test ${MORVANDELL_HOST_TOOLS}/simulator/morvandell-sim
                   ${MORVANDELL_HOST_TOOLS}/cli/morvandell-cli $<TARGET_FILE:morvandell-cli>
                   ${CMAKE_CURRENT_SOURCE_DIR}/data ${CMAKE_BINARY_DIR}/cli-e2e)
  set_tests_properties(wine_cli_end_to_end PROPERTIES TIMEOUT 600 RESOURCE_LOCK com3
                       ENVIRONMENT "MORVANDELL_WINE64=${CMAKE_CROSSCOMPILING_EMULATOR}")
  morvandell_in_wine_prefix(wine_cli_end_to_end)
endif()
