# tavlo_library(name SOURCES files... LINKS targets...): a static library of the listed sources
# (paths relative to the calling CMakeLists), whose headers are found from the repository root
# ("Tavlo/DataObjects/TVLSession.h") and from its own folder.
function(tavlo_library name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;LINKS")
  add_library(${name} STATIC ${arg_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${arg_LINKS})
endfunction()
