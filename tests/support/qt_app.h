#pragma once
// The QApplication of a test program, created on first use (GUI tests run on
// the offscreen platform that CTest selects). The application title is the
// tool's, so captions read as they do in the tool.
class QApplication;
QApplication& TestApp();
