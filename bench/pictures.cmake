# Benchmarks of the picture decoder and the picture list; the pictures are generated at run time.
add_executable(picture_bench
  ${CMAKE_CURRENT_LIST_DIR}/PictureDecodeBench.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PictureListBench.cpp)
target_link_libraries(picture_bench PRIVATE mirava_pictures mirava_picture_testfiles mirava_ui mirava_qt_bench_main)
