#pragma once
// The exchange steps the service windows and the command line share: the
// address search, reading all sixteen parameters, writing the address
// register and the image, each request repeated once when its answer is
// unusable, and the pass-through command. They return what happened; the
// caller tells the user.

#include <cstdint>
#include <functional>

class Session;

// The adapter answered: at least 3 bytes came back.
bool Answered(const Session& session);

enum class RetryPause { BeforeRetry, AfterRetry };

// Sends, and when it was not answered sends `retry` (the same request when
// empty) once more, pausing 50 ms before or after the second try.
bool AnsweredWithRetry(Session& session, const std::function<void()>& send, RetryPause pause,
                       const std::function<void()>& retry = {});

// Reads parameters 1..16, each repeated at once when its status is not 0.
// Stores the 4-decimal text of each float in ParamText, then lets the caller
// show it (`shown(index)`, ParamValue still as read), then pauses `pauseMs`.
// A parameter that fails twice sets ReadFailed and ends the read: false.
bool ReadAllParameters(Session& session, const std::function<void(int index)>& shown, int pauseMs);

// Gives the adapter at DeviceAddress its new address (register 375); false
// when the adapter did not acknowledge it, twice.
bool WriteAddressRegister(Session& session, int32_t address);

// Writes parameters 1..16 from ParamImage, with `written(index)` and a 50 ms
// pause after each; false, ending the write, at a parameter the adapter did
// not acknowledge twice.
bool WriteAllParameters(Session& session, const std::function<void(int index)>& written);

// The first address from `from` to `to` (1 to 247 unless narrowed) whose
// adapter answers the read of parameter 1 in time with its own address and a
// correct CRC; 0 when none does. `between` runs after each address that did
// not answer (the windows repaint there). Each address costs at most about
// 120 ms, however noisy the line; a stop request ends the search
// (EStopRequested).
int FindAdapterAddress(Session& session, const std::function<void()>& between, int from = 1,
                       int to = 247);

// Gives every adapter on the line the address (a broadcast nobody answers)
// and talks to that address from now on.
void BroadcastNewAddress(Session& session, int32_t address);

// Sends the pass-through command to the adapter at DeviceAddress; whether it
// answered with a CRC-correct answer of a length other than 5 (an exception
// answer's, which refuses the command). ResponseStatus is left as the length,
// 1 (no answer) or 5 (CRC mismatch or refusal).
bool SwitchAdapterToPassThrough(Session& session);
