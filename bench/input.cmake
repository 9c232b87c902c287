# Speed and memory of the framings: "face" on a 12-megapixel JPEG against its full decode, on a 100 x 100
# picture against "fit", dlib's detection and landmarks alone, and the resident memory the model adds. The
# faces come from the shared test data (MIRAVA_TESTDATA, else ../shared/testdata beside the repository).
get_filename_component(MIRAVA_BENCH_TESTDATA ${PROJECT_SOURCE_DIR}/../shared/testdata ABSOLUTE)
add_executable(mirava_framing_bench ${CMAKE_CURRENT_LIST_DIR}/FramingBench.cpp)
target_link_libraries(mirava_framing_bench PRIVATE mirava_input mirava_pictures mirava_picture_testfiles
  benchmark::benchmark Qt6::Gui)
target_compile_definitions(mirava_framing_bench PRIVATE MIRAVA_BENCH_TESTDATA="${MIRAVA_BENCH_TESTDATA}")

# Not a timing: the nearest-neighbour accuracy of each framing and lighting on the real photographs.
add_executable(mirava_framing_accuracy ${CMAKE_CURRENT_LIST_DIR}/FramingAccuracy.cpp)
target_link_libraries(mirava_framing_accuracy PRIVATE mirava_input Qt6::Core)
target_compile_definitions(mirava_framing_accuracy PRIVATE MIRAVA_BENCH_TESTDATA="${MIRAVA_BENCH_TESTDATA}")
