tl8_add_test(coeffile_test
  SOURCES coeffile_test.cpp
  LIBS tl8modbus tl8testsupport)
tl8_add_test(tehform_test GUI
  SOURCES tehform_test.cpp
  LIBS tl8window_tehform tl8window_koefforpotreb tl8testsupport
  TIMEOUT 240)
