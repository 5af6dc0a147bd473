# Shared by the install checks (script mode): builds the consumer in tests/install/consumer against
# an installed tree and runs its programs.
#
# qxscsi_check_consumer(<prefix> <libdir> <work dir> <consumer source dir> <with back-ends>)
#   <prefix> is where the tree was installed or unpacked to (its include/, <libdir>/), <libdir>
#   relative to it. The consumer finds the library through find_package(QxScsi CONFIG) and through
#   the pkg-config file, whose paths must resolve into <prefix> wherever that lies. The programs run
#   with LD_LIBRARY_PATH at <prefix>/<libdir>. With back-ends, consumer_backends must be built too.

function(qxscsi_run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(rc)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}")
  endif()
  set(qxscsi_run_output "${out}" PARENT_SCOPE)
endfunction()

function(qxscsi_check_consumer prefix libdir work consumer with_backends)
  # The pkg-config file finds its prefix from its own folder: the unpacked or installed one.
  set(ENV{PKG_CONFIG_PATH} ${prefix}/${libdir}/pkgconfig)
  set(ENV{PKG_CONFIG_LIBDIR} ${prefix}/${libdir}/pkgconfig)
  foreach(variable libdir includedir)
    qxscsi_run("pkg-config --variable=${variable}" pkg-config --variable=${variable} qxscsi)
    string(STRIP "${qxscsi_run_output}" dir)
    get_filename_component(dir "${dir}" REALPATH)
    set(pc_${variable} ${dir})
  endforeach()
  get_filename_component(real_prefix "${prefix}" REALPATH)
  if(NOT EXISTS ${pc_libdir}/libqxscsi.so OR NOT pc_libdir STREQUAL "${real_prefix}/${libdir}")
    message(FATAL_ERROR "qxscsi.pc: libdir is ${pc_libdir}, not ${real_prefix}/${libdir}")
  endif()
  if(NOT EXISTS ${pc_includedir}/qxscsi/qxscsi.h)
    message(FATAL_ERROR "qxscsi.pc: includedir ${pc_includedir} holds no qxscsi/qxscsi.h")
  endif()

  qxscsi_run("consumer configure" ${CMAKE_COMMAND} -S ${consumer} -B ${work}/build
    -DCMAKE_PREFIX_PATH=${prefix} -DQXSCSI_LIBDIR=${libdir} -DCMAKE_BUILD_TYPE=Release)
  qxscsi_run("consumer build" ${CMAKE_COMMAND} --build ${work}/build)
  set(programs consumer_cmake consumer_pkgconfig)
  if(with_backends)
    list(APPEND programs consumer_backends)
  endif()
  foreach(exe ${programs})
    if(NOT EXISTS ${work}/build/${exe})
      message(FATAL_ERROR "${exe} was not built: the installed CMake package lacks a target it needs")
    endif()
    qxscsi_run(${exe} ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${prefix}/${libdir} ${work}/build/${exe})
    if(exe STREQUAL consumer_backends)
      set(expected "INQUIRY: QXSCSI   EMULATED DISK")
    else()
      set(expected "operation code: 12")
    endif()
    if(NOT qxscsi_run_output MATCHES "${expected}")
      message(FATAL_ERROR "${exe} printed no \"${expected}\":\n${qxscsi_run_output}")
    endif()
  endforeach()
endfunction()
