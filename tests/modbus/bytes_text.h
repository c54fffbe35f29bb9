#pragma once
// Frames written as the tests read them: "01 03 00" <-> bytes.

#include <string>

std::string Bytes(const std::string& hex);
std::string Hex(const std::string& bytes);
