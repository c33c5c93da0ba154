# Builds and runs the consumer programs of SOURCE against the libraries
# installed in PREFIX: each with find_package, and each compiled alone with the
# flags that pkg-config gives for its module. The programs read the game's
# installed assets.
# Variables: PREFIX, LIBDIR and DATADIR (relative to PREFIX), SOURCE, OUT,
# GENERATOR, CXX (the compiler), FLAGS (extra compile and link flags, or empty).
file(REMOVE_RECURSE "${OUT}")
separate_arguments(extra UNIX_COMMAND "${FLAGS}")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}")
  endif()
  message(STATUS "${out}")
endfunction()

set(data "${PREFIX}/${DATADIR}/floerush/data")
# Only the installed modules, none of the system's.
set(ENV{PKG_CONFIG_LIBDIR} "${PREFIX}/${LIBDIR}/pkgconfig")

foreach(consumer "lumen;Lumen;sand1.bmp" "l3ds;L3DS;penguin.3ds")
  list(GET consumer 0 module)
  list(GET consumer 1 package)
  list(GET consumer 2 input)
  set(build "${OUT}/${module}")

  run("${CMAKE_COMMAND}" -S "${SOURCE}/${module}" -B "${build}" -G "${GENERATOR}"
      "-DCMAKE_PREFIX_PATH=${PREFIX}" "-DCMAKE_CXX_COMPILER=${CXX}"
      "-DCMAKE_CXX_FLAGS=${FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${FLAGS}")
  file(STRINGS "${build}/CMakeCache.txt" found REGEX "^${package}_DIR:")
  string(FIND "${found}" "=${PREFIX}/" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "find_package(${package}) took a package from outside ${PREFIX}: ${found}")
  endif()
  run("${CMAKE_COMMAND}" --build "${build}")
  run("${build}/uses_${module}" "${data}/${input}")

  execute_process(COMMAND pkg-config --cflags --libs ${module} RESULT_VARIABLE status
                  OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know ${module}")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  run("${CXX}" ${extra} "${SOURCE}/${module}/main.cpp" ${flags} -o "${OUT}/pkg-config-${module}")
  run("${OUT}/pkg-config-${module}" "${data}/${input}")
endforeach()
