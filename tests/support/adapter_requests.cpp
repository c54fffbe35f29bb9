#include "tests/support/adapter_requests.h"

namespace tl8test {
namespace {

constexpr int kReadRegisters = 3;
constexpr int kWriteRegister = 6;
constexpr int kWriteRegisters = 16;
constexpr int kAddressRegister = 375;

// The first register of parameter `index`.
int ParameterRegister(int index) { return 255 + 2 * index; }

std::vector<Request> ParameterRequests(int address, int function) {
  std::vector<Request> requests;
  for (int i = 1; i <= 16; ++i) requests.push_back({address, function, ParameterRegister(i)});
  return requests;
}

}  // namespace

std::vector<Frame> FramesOf(const std::vector<SimJournalEntry>& received) {
  std::vector<Frame> frames;
  for (const SimJournalEntry& entry : received) frames.push_back(entry.bytes);
  return frames;
}

std::ostream& operator<<(std::ostream& out, const Request& r) {
  return out << "{addr " << r.address << ", fn " << r.function << ", reg " << r.reg << "}";
}

std::vector<Request> RequestsOf(const std::vector<SimJournalEntry>& received) {
  std::vector<Request> requests;
  for (const SimJournalEntry& e : received)
    if (e.bytes.size() >= 4)
      requests.push_back({e.bytes[0], e.bytes[1], e.bytes[2] << 8 | e.bytes[3]});
  return requests;
}

Request Probe(int address) { return {address, kReadRegisters, 0}; }

std::vector<Request> ParameterReads(int address) {
  return ParameterRequests(address, kReadRegisters);
}

std::vector<Request> FullRead(int address) {
  std::vector<Request> requests{Probe(address)};
  for (const Request& r : ParameterReads(address)) requests.push_back(r);
  return requests;
}

std::vector<Request> FullWrite(int oldAddress, int address) {
  std::vector<Request> requests{{oldAddress, kWriteRegister, kAddressRegister}};
  for (const Request& r : ParameterRequests(address, kWriteRegisters)) requests.push_back(r);
  return requests;
}

const QStringList kFactoryBounds = {"1010.00", "630.00", "85.00", "-40.00", "200.00", "1.50"};
const QByteArray kFactoryTmpDat =
    "1010.00\r\n630.00\r\n85.00\r\n-40.00\r\n200.00\r\n1.50\r\n4.00\r\n4.00\r\n";

}  // namespace tl8test
