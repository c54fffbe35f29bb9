#pragma once
// What a tl8ctl run leaves, whether the program ran or its run in the test's
// process: the exit code and the text on stdout and stderr.

#include <string>
#include <vector>

namespace tl8test {

struct Ran {
  int code;
  std::string out;
  std::string err;
};

// What tl8ctl prints when it has switched the adapter to pass-through.
inline const std::string kSwitched = "Адаптер переведен в режим побайтовой трансляции";

// The text's lines, without their "\n".
std::vector<std::string> Lines(const std::string& text);

}  // namespace tl8test
