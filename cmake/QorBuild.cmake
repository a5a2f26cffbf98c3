# Shared settings for every target of the project.

set(QOR_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
    -Wcast-align -Woverloaded-virtual -Wnull-dereference -Wimplicit-fallthrough)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # GCC 12 reports false -Wrestrict hits inside std::string concatenation at -O2.
  list(APPEND QOR_WARNINGS -Wno-restrict)
endif()
if(QOR_WERROR)
  list(APPEND QOR_WARNINGS -Werror)
endif()

if(QOR_SANITIZE)
  string(REPLACE ";" "," _qor_san "${QOR_SANITIZE}")
  add_compile_options(-fsanitize=${_qor_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_qor_san})
endif()

if(QOR_BUILD_FUZZ)
  # Coverage for the libraries too, so the fuzzers are guided through the code they test.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# qor_layer(NAME [DEPS ...]): one static library per folder of src/, made of every .cpp in it.
# A folder without sources yet becomes an interface library so that others can already link it.
function(qor_layer name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(_sources)
    add_library(qor_${name} STATIC ${_sources})
    target_include_directories(qor_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_compile_options(qor_${name} PRIVATE ${QOR_WARNINGS})
    target_link_libraries(qor_${name} PUBLIC ${ARG_DEPS} Threads::Threads)
  else()
    add_library(qor_${name} INTERFACE)
    target_include_directories(qor_${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(qor_${name} INTERFACE ${ARG_DEPS} Threads::Threads)
  endif()
  add_library(qor::${name} ALIAS qor_${name})
endfunction()

# qor_executable(NAME SOURCES... [DEPS ...])
function(qor_executable name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${QOR_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
endfunction()
