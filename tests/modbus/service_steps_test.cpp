// The loops of requests the windows run, stopped from another thread while
// they run: once the stop event is signalled nothing more goes on the line
// but the frame that was already on its way.

#include "modbus/service_steps.h"

#include "modbus/session.h"
#include "tests/modbus/pty_peer.h"
#include "tests/support/test_data.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

namespace {

// An adapter at address 1 that reads 1.0 everywhere and acknowledges writes.
std::vector<Burst> Adapter(const std::string& frame) {
  if (frame[0] != 1) return {};
  if (frame[1] == 0x03) return {{5, WithCrc(Bytes("01 03 04 00 00 3F 80"))}};
  return {{5, WithCrc(frame.substr(0, 6))}};
}

TEST(StopRequest, EndsEveryLoopOfRequestsWithAtMostTheFrameOnItsWay) {
  const struct {
    const char* name;
    std::function<void(Session&)> loop;
  } loops[] = {
      // Nobody answers at 1 here: the search polls address after address.
      {"address search", [](Session& s) { FindAdapterAddress(s, [] {}); }},
      {"read of all parameters", [](Session& s) { ReadAllParameters(s, [](int) {}, 50); }},
      {"write of all parameters", [](Session& s) { WriteAllParameters(s, [](int) {}); }},
  };
  for (const auto& c : loops) {
    SCOPED_TRACE(c.name);
    PtyPeer peer(std::string(c.name) == "address search" ? Responder() : Adapter);
    Session session;
    session.ComPort.SetEvents({});
    session.ComPort.SetPort(peer.SlavePath());
    session.ComPort.OpenPort();
    TComStopEvent stop;
    session.Requests.SetStopEvent(&stop);
    session.Exchange.DeviceAddress = 1;

    size_t framesBeforeStop = 0;
    std::thread console([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      stop.Signal();
      framesBeforeStop = peer.Frames().size();
    });
    EXPECT_THROW(c.loop(session), EStopRequested);
    console.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the last frame reaches the peer

    EXPECT_GE(framesBeforeStop, 2u) << "the loop ran before the stop";
    EXPECT_LE(peer.Frames().size(), framesBeforeStop + 1);
  }
}

}  // namespace
