# Frame cost of the real game window; runs under Xvfb (bench.sh takes care of it).
if(TARGET game)
  find_package(Qt5 REQUIRED COMPONENTS Test)
  floerush_add_bench(bench_frame_game bench_frame.cpp)
  target_include_directories(bench_frame_game PRIVATE ${PROJECT_SOURCE_DIR}/tests/app)
  target_link_libraries(bench_frame_game PRIVATE game Qt5::Test)
endif()
