# Offscreen widget tests of the skin's host control with the real player library.
find_package(Qt6 REQUIRED COMPONENTS Test)
mirava_add_test(mirava_skin_control_test QT
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/SkinControlTest.cpp
  LIBS mirava_skin Qt6::Test Qt6::Network)
target_compile_definitions(mirava_skin_control_test PRIVATE
  MIRAVA_PLAYER_LIBRARY="$<TARGET_FILE:mirava_movieplayer>"
  MIRAVA_SKIN_MOVIE="${PROJECT_SOURCE_DIR}/skin/skin.mrv")
add_dependencies(mirava_skin_control_test mirava_movieplayer)
target_compile_definitions(mirava_skin_control_test PRIVATE
  MIRAVA_TEST_MOVIES="${PROJECT_SOURCE_DIR}/tests/skin/movies")
