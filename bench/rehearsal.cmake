# Memorise with its rehearsal: the first memorise of a run against the twentieth.
get_filename_component(MIRAVA_BENCH_TESTDATA ${PROJECT_SOURCE_DIR}/../shared/testdata ABSOLUTE)
add_executable(mirava_rehearsal_bench ${CMAKE_CURRENT_SOURCE_DIR}/RehearsalBench.cpp)
target_compile_definitions(mirava_rehearsal_bench PRIVATE MIRAVA_TESTDATA_DIR="${MIRAVA_BENCH_TESTDATA}")
target_link_libraries(mirava_rehearsal_bench PRIVATE mirava_core mirava_input benchmark::benchmark)
