# Helpers shared by the folders.

# The compiler flags of every target of ours, in one place. Flags a compiler does not
# know are asked only of the compiler that has them.
add_library(orvanta_options INTERFACE)
target_compile_options(orvanta_options INTERFACE
  -Wall -Wextra -Wpedantic -Wnon-virtual-dtor
  $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local>
  $<$<CXX_COMPILER_ID:Clang>:-Wshadow-uncaptured-local>
  $<$<BOOL:${ORVANTA_WERROR}>:-Werror>)
# The release build is what the Debian package ships: hardened the way Debian builds
# its own programs (checked buffer functions, stack protector, read-only relocations).
target_compile_options(orvanta_options INTERFACE
  $<$<CONFIG:Release>:-D_FORTIFY_SOURCE=2 -fstack-protector-strong>)
target_link_options(orvanta_options INTERFACE $<$<CONFIG:Release>:LINKER:-z,relro,-z,now>)

# The program's own code (src/, tools/): every text of the console is either Russian
# (UTF-8 source) or a protocol word, and a C string turned into a QString behind our
# back is how one of them gets the wrong encoding, so the conversion must be asked for.
# Tests and benchmarks keep the convenience of plain literals.
add_library(orvanta_strict_strings INTERFACE)
target_compile_definitions(orvanta_strict_strings INTERFACE QT_NO_CAST_FROM_ASCII)

# orvanta_library(name PUBLIC_LIBS ... PRIVATE_LIBS ... [EXCLUDE file ...]) builds a
# static library from every source of the current folder. A dependency is PUBLIC only
# when the folder's headers include it. Folders own their files; the glob keeps
# parallel work on one folder from fighting over a source list.
function(orvanta_library name)
  cmake_parse_arguments(ARG "" "" "PUBLIC_LIBS;PRIVATE_LIBS;EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  foreach(ex IN LISTS ARG_EXCLUDE)
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${ex})
  endforeach()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS}
                        PRIVATE ${ARG_PRIVATE_LIBS} orvanta_options orvanta_strict_strings)
endfunction()

# orvanta_test_support(name LIBS ...) builds the *Support.cpp helpers of the current
# test folder once, as a static library the folder's test programs (and other
# folders' tests that drive the same real parts) link.
function(orvanta_test_support name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB helpers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Support.cpp
       ${CMAKE_CURRENT_SOURCE_DIR}/*Support.h)
  add_library(${name} STATIC ${helpers})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS} orvanta_testmain GTest::gmock
                        PRIVATE orvanta_options)
endfunction()

# orvanta_tests(LIBS ... [DEPENDS program ...]) makes one test program per *Test.cpp of
# the current folder, registered with ctest through gtest_discover_tests.
function(orvanta_tests)
  cmake_parse_arguments(ARG "" "" "LIBS;DEPENDS" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
  foreach(src IN LISTS tests)
    get_filename_component(stem ${src} NAME_WE)
    add_executable(${stem} ${src})
    target_link_libraries(${stem} PRIVATE ${ARG_LIBS} orvanta_testmain GTest::gmock orvanta_options)
    target_include_directories(${stem} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    if(ARG_DEPENDS)
      add_dependencies(${stem} ${ARG_DEPENDS}) # programs the tests start
    endif()
    # The test main sets QT_QPA_PLATFORM and the source and build folders itself.
    gtest_discover_tests(${stem} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
  endforeach()
endfunction()
