cmake_minimum_required(VERSION 3.25)
# Script mode: install into a scratch prefix, then configure and build the consumer against it and
# run it.
include(${CMAKE_CURRENT_LIST_DIR}/consumer_build.cmake)
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
qxscsi_run(install ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(f include/qxscsi/qxscsi.h include/qxpattern/singleton.h ${LIBDIR}/pkgconfig/qxscsi.pc
          ${LIBDIR}/cmake/QxScsi/QxScsiConfig.cmake)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
qxscsi_check_consumer(${prefix} ${LIBDIR} ${WORK_DIR} ${CONSUMER_DIR} "${WITH_BACKENDS}")
file(REMOVE_RECURSE ${WORK_DIR})
