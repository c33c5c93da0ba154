# Image processing operations on a 2048 x 2048 one-channel image, beside OpenCV
# (single-threaded) doing the same work when it is installed.
floerush_add_bench(bench_imageops bench_imageops.cpp)
target_link_libraries(bench_imageops PRIVATE imagelib)

# Debian's libopencv-imgproc-dev ships headers and libraries but no CMake
# package file (that comes with the full libopencv-dev): look for them directly.
if(NOT OpenCV_FOUND)
  find_path(OPENCV_IMGPROC_INCLUDE_DIR opencv2/imgproc.hpp PATH_SUFFIXES opencv4)
  find_library(OPENCV_CORE_LIBRARY opencv_core)
  find_library(OPENCV_IMGPROC_LIBRARY opencv_imgproc)
  if(OPENCV_IMGPROC_INCLUDE_DIR AND OPENCV_CORE_LIBRARY AND OPENCV_IMGPROC_LIBRARY)
    set(OpenCV_FOUND TRUE)
    set(OpenCV_INCLUDE_DIRS ${OPENCV_IMGPROC_INCLUDE_DIR})
    set(OpenCV_LIBS ${OPENCV_IMGPROC_LIBRARY} ${OPENCV_CORE_LIBRARY})
  endif()
else()
  set(OpenCV_LIBS opencv_core opencv_imgproc)
endif()

if(OpenCV_FOUND)
  target_include_directories(bench_imageops PRIVATE ${OpenCV_INCLUDE_DIRS})
  target_link_libraries(bench_imageops PRIVATE ${OpenCV_LIBS})
  target_compile_definitions(bench_imageops PRIVATE HAVE_OPENCV=1)
endif()
