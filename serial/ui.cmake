# The widget side of the serial folder: the port-settings dialog and its
# port-bound lists. Kept apart from tl8serial, which must stay free of widgets.
add_library(tl8serialui STATIC
  ${PROJECT_SOURCE_DIR}/serial/comcombobox.cpp ${PROJECT_SOURCE_DIR}/serial/comcombobox.h
  ${PROJECT_SOURCE_DIR}/serial/veskcomsetupfrm.cpp ${PROJECT_SOURCE_DIR}/serial/veskcomsetupfrm.h)
target_include_directories(tl8serialui PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(tl8serialui PUBLIC tl8serial tl8ui Qt6::Widgets)
