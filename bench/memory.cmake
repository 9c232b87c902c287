# Save and Open of a full memory file against cp of the same file.
add_executable(mirava_memory_bench ${CMAKE_CURRENT_SOURCE_DIR}/MemoryFileBench.cpp)
target_link_libraries(mirava_memory_bench PRIVATE mirava_core benchmark::benchmark)
