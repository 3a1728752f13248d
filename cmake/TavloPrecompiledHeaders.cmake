# Precompiled headers: Qt's and the web engine's headers are most of what each source costs to
# compile, so two sets are compiled once per build and reused by every target:
# cmake/pch/TavloPchCore.h for what builds without widgets, cmake/pch/TavloPchGui.h for what has
# windows and pages. GCC only: clang (the fuzz build) rejects a header made with other macros
# defined than the source's.
# ccache caches the sources compiled with them, across build folders and clones, with the settings
# the top CMakeLists gives it (sloppiness pch_defines,time_macros, pch_external_checksum):
# cmake/pch/checksum-launcher.sh leaves the checksum it hashes beside each .gch, and the headers are
# named <like-this> so that the generated cmake_pch.hxx holds no path of the clone.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  option(TAVLO_PCH "Precompile the Qt and web engine headers" ON)
else()
  set(TAVLO_PCH OFF)
endif()

# GCC takes a precompiled header only where every macro defined when it was made is defined the
# same, so the two sets are made with the macros every user has (the global ones and Qt Core's), and
# with the Qt modules' folders on the include path but without their other macros.
function(tavlo_pch_target name header)
  add_library(${name} OBJECT ${CMAKE_SOURCE_DIR}/cmake/pch/empty.cpp)
  set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON AUTOMOC OFF
                        CXX_COMPILER_LAUNCHER "${CMAKE_SOURCE_DIR}/cmake/pch/checksum-launcher.sh;${CMAKE_CXX_COMPILER_LAUNCHER}")
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/cmake/pch)
  target_compile_definitions(${name} PRIVATE $<TARGET_PROPERTY:Qt6::Core,INTERFACE_COMPILE_DEFINITIONS>)
  foreach(module ${ARGN})
    target_include_directories(${name} SYSTEM PRIVATE $<TARGET_PROPERTY:${module},INTERFACE_INCLUDE_DIRECTORIES>)
  endforeach()
  target_precompile_headers(${name} PRIVATE <${header}>)
endfunction()

if(TAVLO_PCH)
  tavlo_pch_target(TavloPchCore TavloPchCore.h Qt6::Core)
  tavlo_pch_target(TavloPchGui TavloPchGui.h Qt6::Core Qt6::Gui Qt6::Widgets Qt6::WebEngineCore
                   Qt6::WebEngineWidgets)
endif()

# tavlo_use_pch(core|gui targets...): the targets compile with that set of precompiled headers.
function(tavlo_use_pch level)
  if(NOT TAVLO_PCH)
    return()
  endif()
  foreach(target ${ARGN})
    get_target_property(type ${target} TYPE)
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      if(level STREQUAL "gui")
        target_precompile_headers(${target} REUSE_FROM TavloPchGui)
      else()
        target_precompile_headers(${target} REUSE_FROM TavloPchCore)
      endif()
    endif()
  endforeach()
endfunction()
