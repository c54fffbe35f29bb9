// The port component's errors, whatever kind of line raised them.

#include "serial/link.h"

namespace {

const char* ErrorText(int code) {
  switch (code) {
    case ceOpenFailed:
      return "Unable to open com port";
    case ceWriteFailed:
      return "WriteFile function failed";
    case ceReadFailed:
      return "ReadFile function failed";
    case cePurgeFailed:
      return "PurgeComm function failed";
    case ceSetStateFailed:
      return "SetCommState function failed";
    case ceSetTimeoutsFailed:
      return "SetCommTimeouts failed";
    case ceSetupFailed:
      return "SetupComm function failed";
    case ceClearErrorFailed:
      return "ClearCommError function failed";
    case ceStoreFailed:
      return "Failed to store settings";
    case ceWaitFailed:
      return "WaitForEvent method failed";
    case ceRegistryError:
      return "Registry error";
  }
  return "";
}

std::string ErrorMessage(int code, int winCode, const std::string& reason) {
  std::string message = ErrorText(code);
  // -1 is "no code"; other negative codes are the name lookup's (glibc's EAI_).
  if (winCode != -1) message += " (win error code: " + std::to_string(winCode) + ")";
  if (!reason.empty()) message += ": " + reason;
  return message;
}

}  // namespace

EComPort::EComPort(int code, int winCode, const std::string& reason)
    : std::runtime_error(ErrorMessage(code, winCode, reason)),
      code_(code),
      winCode_(winCode),
      reason_(reason) {}
