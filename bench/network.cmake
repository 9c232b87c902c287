# Speed of the network engine on the application's full-size network.
add_executable(mirava_network_bench ${CMAKE_CURRENT_SOURCE_DIR}/NeuralNetworkBench.cpp)
target_link_libraries(mirava_network_bench PRIVATE mirava_network benchmark::benchmark)
