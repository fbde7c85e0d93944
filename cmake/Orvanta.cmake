# Helpers shared by the folders.

# orvanta_library(name [QT_GUI]) builds a static library from every source of the
# current folder. Folders own their files; the glob keeps parallel work on one
# folder from fighting over a source list.
function(orvanta_library name)
  cmake_parse_arguments(ARG "" "" "PUBLIC_LIBS;PRIVATE_LIBS;EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  foreach(ex IN LISTS ARG_EXCLUDE)
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${ex})
  endforeach()
  if(NOT sources)
    # A folder whose first unit has not landed yet.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_PUBLIC_LIBS})
    return()
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
endfunction()

# orvanta_tests(LIBS ...) makes one test program per *Test.cpp of the current folder,
# registered with ctest through gtest_discover_tests.
function(orvanta_tests)
  cmake_parse_arguments(ARG "" "" "LIBS;DEPENDS" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
  file(GLOB helpers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Support.cpp)
  foreach(src IN LISTS tests)
    get_filename_component(stem ${src} NAME_WE)
    add_executable(${stem} ${src} ${helpers})
    target_link_libraries(${stem} PRIVATE ${ARG_LIBS} orvanta_testmain GTest::gmock)
    target_include_directories(${stem} PRIVATE ${PROJECT_SOURCE_DIR}/tests ${CMAKE_CURRENT_SOURCE_DIR})
    if(ARG_DEPENDS)
      add_dependencies(${stem} ${ARG_DEPENDS}) # programs the tests start
    endif()
    # The test main sets QT_QPA_PLATFORM and the source and build folders itself.
    gtest_discover_tests(${stem} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
  endforeach()
endfunction()
