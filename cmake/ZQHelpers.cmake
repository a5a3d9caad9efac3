# zq_add_library(<name> [DEPS <targets>...])
# One static library per code folder, built from every .cpp/.h of that folder
# (sub-folders included). A folder without sources yet becomes an INTERFACE
# library so that the layers above can already link it.
function(zq_add_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE _src CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  set(_has_cpp FALSE)
  foreach(f ${_src})
    if(f MATCHES "\\.cpp$")
      set(_has_cpp TRUE)
    endif()
  endforeach()
  if(_has_cpp)
    add_library(${name} STATIC ${_src})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# zq_add_test(<name> SOURCES <files>... LIBS <targets>... [GL] [TIMEOUT <s>])
# A Qt Test executable registered with CTest. Each test gets its own HOME so
# it never touches the real per-user folder. Widget tests run offscreen; GL
# tests (QQuickWidget, real windows) run on the X server that scripts/test
# provides and keep LeakSanitizer off, since Mesa leaks at exit.
function(zq_add_test name)
  cmake_parse_arguments(ARG "GL" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  add_test(NAME ${name} COMMAND ${name})
  set(_home ${CMAKE_BINARY_DIR}/testhome/${name})
  file(MAKE_DIRECTORY ${_home})
  set(_env "HOME=${_home}" "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
  if(TARGET zqfixture)
    list(APPEND _env "ZQ_FIXTURE_TOOL=$<TARGET_FILE:zqfixture>")
  endif()
  if(ARG_GL)
    list(APPEND _env "ASAN_OPTIONS=detect_leaks=0")
  else()
    list(APPEND _env "QT_QPA_PLATFORM=offscreen")
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 600)
  endif()
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${_env}" TIMEOUT ${ARG_TIMEOUT})
endfunction()

# Adds every direct sub-folder that holds a CMakeLists.txt, in name order, except the
# folders named after EXCEPT (added elsewhere).
function(zq_add_subdirectories)
  cmake_parse_arguments(ARG "" "" "EXCEPT" ${ARGN})
  file(GLOB _dirs LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT _dirs)
  foreach(d ${_dirs})
    get_filename_component(_name ${d} NAME)
    if(_name IN_LIST ARG_EXCEPT)
      continue()
    endif()
    if(IS_DIRECTORY ${d} AND EXISTS ${d}/CMakeLists.txt)
      add_subdirectory(${d})
    endif()
  endforeach()
endfunction()

# Includes every *.cmake file of the current folder, in name order: each test
# group of a folder lives in a file of its own.
macro(zq_include_parts)
  file(GLOB _zq_parts ${CMAKE_CURRENT_SOURCE_DIR}/*.cmake)
  list(SORT _zq_parts)
  foreach(_zq_part ${_zq_parts})
    include(${_zq_part})
  endforeach()
endmacro()
