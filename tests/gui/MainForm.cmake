# Offscreen tests of the main window and the About box, under the program's own application object.
find_package(Qt6 REQUIRED COMPONENTS Test)
mirava_add_test(mirava_mainform_test
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/AppTestMain.cpp
    ${CMAKE_CURRENT_LIST_DIR}/AppTestSupport.h
    ${CMAKE_CURRENT_LIST_DIR}/MainFormTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/FolderTreeTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MainFormTextTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MainFormCommandsTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MainFormAboutTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MainFormFoldersTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MainFormMemoryTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MainFormListingTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MainFormFramingTest.cpp
  LIBS mirava_ui Qt6::Test ZLIB::ZLIB)
