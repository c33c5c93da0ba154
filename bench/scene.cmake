# Frame cost of the scenery under the software renderer, with sky pictures of
# 256 and 512 pixels. Needs a display (bench.sh runs bench_frame_* under Xvfb).
find_package(OpenGL REQUIRED COMPONENTS OpenGL)
find_package(Qt5 REQUIRED COMPONENTS Gui)
floerush_add_bench(bench_frame_scene frame_scene.cpp)
target_link_libraries(bench_frame_scene PRIVATE scene Qt5::Gui OpenGL::GLU)
