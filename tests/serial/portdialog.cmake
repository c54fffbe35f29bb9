# The port-settings dialog and its port-bound lists, on pseudo-terminals.
tl8_add_test(serial_portdialog_test GUI
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/portdialog_test.cpp
  LIBS tl8serialui tl8testsupport
  TIMEOUT 120)
