# 3DS importer benchmark: L3DS against assimp (when installed) on the assimp
# test models and on a generated 60,000-vertex, 100,000-face mesh.
floerush_add_bench(bench_importer bench_importer.cpp)
target_link_libraries(bench_importer PRIVATE importer)
if(assimp_FOUND AND TARGET assimp::assimp)
  target_link_libraries(bench_importer PRIVATE assimp::assimp)
  target_compile_definitions(bench_importer PRIVATE HAVE_ASSIMP=1)
endif()

# Byte-for-byte dumps of what L3DS loads, to compare two builds of it.
add_executable(importer_dump importer_dump.cpp)
target_link_libraries(importer_dump PRIVATE importer filewriters)
