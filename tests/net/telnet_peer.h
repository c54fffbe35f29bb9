#pragma once
// The server's side of RFC 2217 as the network line's tests play it.

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace tl8test {

inline std::string Bytes(std::initializer_list<int> bytes) {
  std::string text;
  for (int byte : bytes) text += static_cast<char>(byte);
  return text;
}

// The COM-PORT-OPTION commands in a client's Telnet stream, each as its code
// and value (doubled 255s undone).
inline std::vector<std::string> ComPortCommands(std::string_view stream) {
  std::vector<std::string> commands;
  for (size_t at = 0; at + 1 < stream.size(); ++at) {
    if (stream.substr(at, 3) != Bytes({255, 250, 44})) continue;
    std::string body;
    for (at += 3; at + 1 < stream.size() && stream.substr(at, 2) != Bytes({255, 240}); ++at) {
      body += stream[at];
      if (stream.substr(at, 2) == Bytes({255, 255})) ++at;
    }
    commands.push_back(body);
  }
  return commands;
}

// What a server answers to the commands in `stream`: each code plus 100, the
// value it was asked for; the rate set last for a rate of 0 (a request).
inline std::string AnswersTo(std::string_view stream) {
  std::string answers;
  std::string rate = Bytes({0, 0, 0, 0});
  for (const std::string& command : ComPortCommands(stream)) {
    answers += Bytes({255, 250, 44, static_cast<unsigned char>(command[0]) + 100});
    std::string value = command.substr(1);
    if (command[0] == 1 && value == Bytes({0, 0, 0, 0})) value = rate;
    if (command[0] == 1) rate = value;
    for (char byte : value) {
      answers += byte;
      if (static_cast<unsigned char>(byte) == 255) answers += byte;
    }
    answers += Bytes({255, 240});
  }
  return answers;
}

}  // namespace tl8test
