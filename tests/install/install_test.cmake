# Installs the build into a scratch prefix, checks what landed there, then
# builds and runs the host project against it twice: through
# find_package(Aurivane) and through pkg-config.
cmake_minimum_required(VERSION 3.20)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "${command}\n${out}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK}/prefix)
file(REMOVE_RECURSE ${WORK})
run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix})

foreach(f ${LIBDIR}/libaurivane.so ${LIBDIR}/libaurivane.so.${MAJOR} include/aurivane/aurivane.h
          include/aurivane/aurivane_loader.h bin/aurivane ${LIBDIR}/cmake/Aurivane/AurivaneConfig.cmake
          ${LIBDIR}/pkgconfig/aurivane.pc)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
if(EXISTS ${prefix}/include/aurivane/wave_service.h)
  message(FATAL_ERROR "wave_service.h is installed, but the shared library does not export its functions")
endif()
run(${OBJDUMP} -p ${prefix}/${LIBDIR}/libaurivane.so)
if(NOT run_output MATCHES "SONAME +libaurivane\\.so\\.${MAJOR}\n")
  message(FATAL_ERROR "libaurivane.so has no SONAME libaurivane.so.${MAJOR}")
endif()
run(${prefix}/bin/aurivane --version)
message(STATUS "installed program: ${run_output}")

# find_package
run(${CMAKE_COMMAND} -S ${SOURCE}/host -B ${WORK}/package -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK}/package)
run(${WORK}/package/host ${STREAM})
message(STATUS "find_package(Aurivane):\n${run_output}")

# pkg-config, with the compiler alone
set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
run(${PKG_CONFIG} --cflags --libs aurivane)
string(STRIP "${run_output}" flags)
separate_arguments(flags UNIX_COMMAND "${flags}")
run(${CXX} -std=c++17 ${SOURCE}/host/host.cpp ${flags} -Wl,-rpath,${prefix}/${LIBDIR} -o ${WORK}/host_pc)
run(${WORK}/host_pc ${STREAM})
message(STATUS "pkg-config aurivane:\n${run_output}")
