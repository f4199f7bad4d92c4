# Shared build rules for the library folders, tests, benchmarks and fuzz targets.

set(IX_SOURCE_ROOT ${CMAKE_CURRENT_LIST_DIR}/../src)
set(IX_LIBRARY_TARGETS "" CACHE INTERNAL "Library targets of the umbrella")

# Warnings and sanitizers for one target of this project.
function(ix_target_options target)
  target_compile_features(${target} PUBLIC cxx_std_20)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(IX_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(IX_SANITIZE)
    target_compile_options(${target} PUBLIC -fsanitize=address,undefined -fno-omit-frame-pointer
      -fno-sanitize-recover=undefined)
    target_link_options(${target} PUBLIC -fsanitize=address,undefined)
  endif()
endfunction()

# ix_add_library(<folder> SOURCES ... [DEPS ix_x ...] [PRIVATE_DEPS ...])
# Makes the static library ix_<folder> with alias ix::<folder>, headers installed under ix/<folder>.
function(ix_add_library folder)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  set(target ix_${folder})
  add_library(${target} STATIC ${ARG_SOURCES})
  add_library(ix::${folder} ALIAS ${target})
  ix_target_options(${target})
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${IX_SOURCE_ROOT}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/ix>)
  target_link_libraries(${target} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${folder} POSITION_INDEPENDENT_CODE ON)
  install(TARGETS ${target} EXPORT ixTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ix/${folder}
    FILES_MATCHING PATTERN "*.h" PATTERN "internal" EXCLUDE)
  set(IX_LIBRARY_TARGETS ${IX_LIBRARY_TARGETS} ${target} CACHE INTERNAL "Library targets of the umbrella")
endfunction()

# ix_add_test(<name> SOURCES ... DEPS ... [LABELS unit|peer ...] [FIXTURES ...] [PROPERTIES ...])
# One GoogleTest executable; its cases are discovered at test time and labelled.
function(ix_add_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS;LABELS;FIXTURES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  ix_target_options(${name})
  target_include_directories(${name} PRIVATE ${IX_SOURCE_ROOT} ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main)
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set(props LABELS "${ARG_LABELS}" TIMEOUT ${ARG_TIMEOUT})
  if(ARG_FIXTURES)
    # gtest_discover_tests cannot carry a list-valued property: a test needing several servers
    # names one fixture that all their start tests set up (see tests/peers/CMakeLists.txt).
    list(LENGTH ARG_FIXTURES fixture_count)
    if(fixture_count GREATER 1)
      message(FATAL_ERROR "ix_add_test(${name}): give one fixture, set up by every peer it needs")
    endif()
    list(APPEND props FIXTURES_REQUIRED ${ARG_FIXTURES})
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()
