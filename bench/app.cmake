# The shell's commands driven headless through the real window: set-up, memorise, recognise.
add_executable(mirava_app_bench ${CMAKE_CURRENT_LIST_DIR}/AppCommandsBench.cpp)
target_link_libraries(mirava_app_bench PRIVATE mirava_ui benchmark::benchmark)
