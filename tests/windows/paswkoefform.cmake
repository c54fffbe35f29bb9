tl8_add_test(paswkoefform_test GUI
  SOURCES paswkoefform_test.cpp
  LIBS tl8windows tl8testsupport)
