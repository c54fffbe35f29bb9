#pragma once
// A control's object name is the name of the member that holds it, so tests
// and UI automation find the control by the name the code gives it:
//   TL8_NAME_AFTER_MEMBERS(ReadButton, WriteButton);
// names the two buttons "ReadButton" and "WriteButton".

#include <initializer_list>

class QObject;

// `names`: the objects' member names, separated by commas, in their order.
void NameAfterMembers(const char* names, std::initializer_list<QObject*> objects);

#define TL8_NAME_AFTER_MEMBERS(...) NameAfterMembers(#__VA_ARGS__, {__VA_ARGS__})
