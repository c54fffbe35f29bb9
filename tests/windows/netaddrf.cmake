tl8_add_test(netaddrf_test GUI
  SOURCES netaddrf_test.cpp
  LIBS tl8windows tl8testsupport
  TIMEOUT 180)
