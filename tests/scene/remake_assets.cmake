# Runs every asset generator into OUT and checks that it remakes the committed
# files byte for byte (the generators are deterministic, and the committed
# outputs must be up to date with them).
# Variables: TOOLS (folder of the gen_* programs), SOURCE (project root), OUT.
file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${OUT}")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}")
  endif()
endfunction()

run("${TOOLS}/gen_elevation" "${OUT}/elevationtable.cpp")
run("${TOOLS}/gen_sky" "${OUT}" 256)
run("${TOOLS}/gen_sand" "${OUT}/sand1.bmp")
run("${TOOLS}/gen_penguin" "${OUT}/penguin.3ds")
run("${TOOLS}/gen_music" "${OUT}/music.wav")
file(MAKE_DIRECTORY "${OUT}/icons")
run("${TOOLS}/gen_icon" "${OUT}/icons")

set(mismatches "")
# A file missing on either side is a mismatch too.
macro(compare made committed)
  set(a "")
  set(b "-")
  if(EXISTS "${OUT}/${made}" AND EXISTS "${SOURCE}/${committed}")
    file(SHA256 "${OUT}/${made}" a)
    file(SHA256 "${SOURCE}/${committed}" b)
  endif()
  if(NOT a STREQUAL b)
    list(APPEND mismatches "${committed}")
  endif()
endmacro()

foreach(pair "elevationtable.cpp;scene/elevationtable.cpp"
             "f.bmp;data/f.bmp" "l.bmp;data/l.bmp" "r.bmp;data/r.bmp" "b.bmp;data/b.bmp" "u.bmp;data/u.bmp"
             "sand1.bmp;data/sand1.bmp" "penguin.3ds;data/penguin.3ds" "music.wav;data/music.wav")
  list(GET pair 0 made)
  list(GET pair 1 committed)
  compare("${made}" "${committed}")
endforeach()
# Every icon made, and every one committed.
file(GLOB made_icons RELATIVE "${OUT}/icons" "${OUT}/icons/*.png")
file(GLOB committed_icons RELATIVE "${SOURCE}/dist/icons" "${SOURCE}/dist/icons/*.png")
list(APPEND made_icons ${committed_icons})
list(REMOVE_DUPLICATES made_icons)
foreach(icon ${made_icons})
  compare("icons/${icon}" "dist/icons/${icon}")
endforeach()
file(REMOVE_RECURSE "${OUT}")
if(mismatches)
  message(FATAL_ERROR "remade assets differ from the committed ones: ${mismatches} (run tools/make-assets.sh)")
endif()
