# Benchmarks of the skin: the cost of one frame at 953 x 190 and the processor time of a window playing it.
add_executable(skin_bench ${CMAKE_CURRENT_LIST_DIR}/SkinRenderBench.cpp)
target_include_directories(skin_bench PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(skin_bench PRIVATE mirava_skin mirava_movie mirava_qt_bench_main)
target_compile_definitions(skin_bench PRIVATE
  MIRAVA_PLAYER_LIBRARY="$<TARGET_FILE:mirava_movieplayer>"
  MIRAVA_SKIN_MOVIE="${PROJECT_SOURCE_DIR}/skin/skin.mrv")
add_dependencies(skin_bench mirava_movieplayer)
