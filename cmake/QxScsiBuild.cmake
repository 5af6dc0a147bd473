# How the project declares its libraries, back-ends and test programs.
#
# qxscsi_add_library(<name> BASE <BASE> [EXPORT_HEADER <path>] SOURCES ...
#                    [INCLUDES <public dirs>] [PRIVATE_INCLUDES <dirs>]
#                    [DEPENDS <libs>] [INTERNAL_DEPENDS <libs>] [PRIVATE_DEPENDS <libs>]
#                    [COMPONENT <install component>])
#   Compiles SOURCES once and makes two libraries of the objects:
#     <name>           shared, hidden visibility: only what <BASE>_EXPORT marks is exported; installed
#     <name>_internal  static, for tests that reach the internals; never installed
#   A program links one form or the other, never both. DEPENDS are linked by both forms unless
#   INTERNAL_DEPENDS is given, which the _internal form links instead (the _internal forms of
#   other libraries). <BASE>_BUILDING_LIBRARY is defined while the objects compile and <BASE>_STATIC
#   for programs that link the _internal form; the export header reads them. With EXPORT_HEADER it
#   is generated at that path (relative to the build's include folder) and installed.
#
# qxscsi_add_backend(<name> MAKER <function> HEADER <header> SOURCES ... [DEPENDS ...] ...)
#   A back-end: qxscsi_add_library(qxscsi_<name> ...) with the macro QXSCSI_<NAME>_EXPORT, its
#   public header (include/qxscsi/backends/ in its folder) installed, and its maker
#   (qxscsi::backends::<function>()) added to the built-in list in the order of declaration.
#
# qxscsi_add_test(<name> SOURCES ... [LIBRARIES ...] [LABELS ...] [NO_DISCOVERY])
#   The test program test_<name>, linked with GoogleTest's main and LIBRARIES, its cases known to
#   ctest (label <name> unless LABELS says otherwise). Every test program is listed in the global
#   property QXSCSI_TEST_PROGRAMS.

set(QXSCSI_GENERATED_INCLUDE_DIR ${PROJECT_BINARY_DIR}/include)

function(qxscsi_add_library name)
  cmake_parse_arguments(L "" "BASE;EXPORT_HEADER;COMPONENT"
    "SOURCES;INCLUDES;PRIVATE_INCLUDES;DEPENDS;INTERNAL_DEPENDS;PRIVATE_DEPENDS" ${ARGN})
  if(NOT L_COMPONENT)
    set(L_COMPONENT runtime)
  endif()
  if(NOT DEFINED L_INTERNAL_DEPENDS)
    set(L_INTERNAL_DEPENDS ${L_DEPENDS})
  endif()
  if(L_EXPORT_HEADER)
    set(QXSCSI_EXPORT_BASE ${L_BASE})
    set(QXSCSI_EXPORT_LIBRARY lib${name})
    configure_file(${PROJECT_SOURCE_DIR}/cmake/export.h.in
      ${QXSCSI_GENERATED_INCLUDE_DIR}/${L_EXPORT_HEADER} @ONLY)
    get_filename_component(dir ${L_EXPORT_HEADER} DIRECTORY)
    install(FILES ${QXSCSI_GENERATED_INCLUDE_DIR}/${L_EXPORT_HEADER}
      DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${dir} COMPONENT dev)
  endif()

  set(includes $<BUILD_INTERFACE:${QXSCSI_GENERATED_INCLUDE_DIR}>)
  foreach(dir ${L_INCLUDES})
    list(APPEND includes $<BUILD_INTERFACE:${dir}>)
  endforeach()

  add_library(${name}_objects OBJECT ${L_SOURCES})
  target_compile_definitions(${name}_objects PRIVATE ${L_BASE}_BUILDING_LIBRARY)
  target_include_directories(${name}_objects PUBLIC ${includes} PRIVATE ${L_PRIVATE_INCLUDES})
  target_link_libraries(${name}_objects PUBLIC ${L_DEPENDS} PRIVATE ${L_PRIVATE_DEPENDS})

  add_library(${name} SHARED)
  target_link_libraries(${name} PRIVATE ${name}_objects ${L_PRIVATE_DEPENDS} PUBLIC ${L_DEPENDS})
  target_include_directories(${name} PUBLIC ${includes} $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  set_target_properties(${name} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  add_library(QxScsi::${name} ALIAS ${name})
  install(TARGETS ${name} EXPORT QxScsiTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ${L_COMPONENT} NAMELINK_COMPONENT dev)

  # The same objects for tests, with the headers of the internals next to them.
  add_library(${name}_internal STATIC)
  target_link_libraries(${name}_internal PUBLIC ${name}_objects ${L_INTERNAL_DEPENDS} ${L_PRIVATE_DEPENDS})
  target_include_directories(${name}_internal PUBLIC ${L_PRIVATE_INCLUDES})
  target_compile_definitions(${name}_internal INTERFACE ${L_BASE}_STATIC)
endfunction()

function(qxscsi_add_backend name)
  cmake_parse_arguments(B "" "MAKER;HEADER" "SOURCES;DEPENDS;PRIVATE_DEPENDS" ${ARGN})
  string(TOUPPER ${name} upper)
  qxscsi_add_library(qxscsi_${name}
    BASE QXSCSI_${upper}
    EXPORT_HEADER qxscsi/backends/${name}_export.h
    SOURCES ${B_SOURCES}
    INCLUDES ${CMAKE_CURRENT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/backends/include
    PRIVATE_INCLUDES ${CMAKE_CURRENT_SOURCE_DIR}
    DEPENDS qxscsi ${B_DEPENDS}
    PRIVATE_DEPENDS qxscsi_backend_common qxscsi_wire ${B_PRIVATE_DEPENDS})
  install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/include/qxscsi/backends/${B_HEADER}
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qxscsi/backends COMPONENT dev)
  set_property(GLOBAL APPEND PROPERTY QXSCSI_BACKEND_NAMES ${name})
  set_property(GLOBAL APPEND PROPERTY QXSCSI_BACKEND_MAKERS ${B_MAKER})
  set_property(GLOBAL APPEND PROPERTY QXSCSI_BACKEND_HEADERS ${B_HEADER})
endfunction()

function(qxscsi_add_test name)
  cmake_parse_arguments(T "NO_DISCOVERY" "" "SOURCES;LIBRARIES;LABELS" ${ARGN})
  if(NOT T_LABELS)
    set(T_LABELS ${name})
  endif()
  foreach(library ${T_LIBRARIES})
    if(library MATCHES "^(.*)_internal$" AND "${CMAKE_MATCH_1}" IN_LIST T_LIBRARIES)
      message(FATAL_ERROR "test_${name} links both ${CMAKE_MATCH_1} and ${library}")
    endif()
  endforeach()
  add_executable(test_${name} ${T_SOURCES})
  target_link_libraries(test_${name} PRIVATE ${T_LIBRARIES} GTest::gmock_main)
  if(NOT T_NO_DISCOVERY)
    gtest_discover_tests(test_${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${T_LABELS}")
  endif()
  set_property(GLOBAL APPEND PROPERTY QXSCSI_TEST_PROGRAMS test_${name})
endfunction()
