tl8_add_test(window_koefforpotreb_test GUI
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/koefforpotreb_test.cpp
  LIBS tl8windows tl8testsupport
  TIMEOUT 240)
# The tests talk to the simulator program.
add_dependencies(window_koefforpotreb_test tl8sim)
