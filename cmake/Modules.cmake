# The programs' optional parts are modules loaded on first use (see
# src/core/module/LoadedModule.h). They live in one folder that the programs
# find from their own place: the same relative path in the build tree (where
# both programs are built into src/app) and in the installed tree.
set(MELO_MODULE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/melodriftdown)
file(RELATIVE_PATH MELO_MODULE_DIR_FROM_PROGRAM
  /${CMAKE_INSTALL_BINDIR} /${MELO_MODULE_INSTALL_DIR})
set(MELO_PROGRAM_BUILD_DIR ${CMAKE_BINARY_DIR}/src/app)
cmake_path(APPEND MELO_PROGRAM_BUILD_DIR ${MELO_MODULE_DIR_FROM_PROGRAM}
  OUTPUT_VARIABLE MELO_MODULE_BUILD_DIR)
cmake_path(NORMAL_PATH MELO_MODULE_BUILD_DIR)
set(MELO_MODULE_VERSION ${PROJECT_VERSION})

# melo_add_module(NAME SOURCES ... LIBS ...): NAME.so in the module folder,
# showing nothing but its entry function and its version.
function(melo_add_module name)
  cmake_parse_arguments(M "" "" "SOURCES;LIBS" ${ARGN})
  set(target melo_module_${name})
  add_library(${target} MODULE ${M_SOURCES})
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${name} PREFIX ""
    LIBRARY_OUTPUT_DIRECTORY ${MELO_MODULE_BUILD_DIR}
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/src)
  target_compile_definitions(${target} PRIVATE MELO_MODULE_VERSION="${MELO_MODULE_VERSION}")
  target_link_libraries(${target} PRIVATE ${M_LIBS})
  target_link_options(${target} PRIVATE -Wl,--exclude-libs,ALL)
  # A symbol the module needs and does not bring fails the build, not the
  # first song; sanitizer runtimes come with the program, so not there.
  if(NOT MELO_SANITIZED)
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()
  install(TARGETS ${target} LIBRARY DESTINATION ${MELO_MODULE_INSTALL_DIR})
  set_property(GLOBAL APPEND PROPERTY MELO_MODULE_TARGETS ${target})
endfunction()
