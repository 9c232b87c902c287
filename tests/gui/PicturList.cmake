# Widget tests of the picture item and the picture list (offscreen).
mirava_add_test(PicturListTest QT
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PicturListTest.cpp
  LIBS mirava_pictures mirava_picture_testfiles)
