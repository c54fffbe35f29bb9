#pragma once
// The service operations every front end runs on a session: the address
// search, the read of all sixteen parameters, the write of an image with its
// address move, the address broadcast and the pass-through command. Each
// request is repeated once when its answer is unusable, as the windows always
// did. They return what happened as values; the windows and tl8ctl tell the
// user in their own ways.

#include "modbus/params.h"

#include <QString>

#include <array>
#include <cstdint>
#include <functional>

class Session;

// The adapter answered: at least 3 bytes came back.
bool Answered(const Session& session);

enum class RetryPause { BeforeRetry, AfterRetry };

// --- Reading ------------------------------------------------------------------

// One parameter as its read got it.
struct ParameterReading {
  int index = 0;
  // The float this read decoded, as the adapter keeps it; for a parameter that
  // is no float, the last float decoded before (ParamValue is left as it was).
  double deviceValue = 0;
  // As the windows show it: a float less its offset with its decimals, the
  // serial number text, the write date, the stored address; empty for the
  // checksum.
  QString shown;
};

// The parameter's reading from the exchange state its read has just left.
ParameterReading ReadingOf(int index, const Session& session);

// What a read of the adapter found, as far as it got.
struct AdapterReading {
  int answeringAddress = 0;  // who answered the first request
  int storedAddress = 0;     // parameter 15, the adapter's copy of its address
  int32_t serialNumber = 0;
  QString writeDate;
  std::array<QString, kFloatParamCount> shown;  // parameters 1..12 as the windows show them
};

enum class ReadResult {
  NoAnswer,          // the first request went unanswered, twice
  UnexpectedAnswer,  // the first answer was not a parameter's (ReadPlan::ParameterOneThenProbe)
  ParameterFailed,   // a parameter went unanswered twice: ReadFailed
  Read,              // all sixteen read; see checksumMatches
};

struct ReadOutcome {
  ReadResult result = ReadResult::NoAnswer;
  AdapterReading reading;
  bool checksumMatches = false;  // after Read: parameter 16 is the CRC of the others
};

// How a read starts and paces itself; the front ends' reads differ there.
struct ReadPlan {
  enum class FirstRequest {
    Probe,                  // the identity block, once more when unanswered
    ParameterOneThenProbe,  // parameter 1, then the probe when unanswered, and an answer
                            // that is not a parameter's (byte count not 4) is unexpected
  };
  FirstRequest first = FirstRequest::Probe;
  RetryPause retryPause = RetryPause::AfterRetry;
  int pauseMs = 50;  // after each parameter
  // At the line's own speed: each answer taken as soon as it is whole, and
  // only the Modbus inter-frame gap before the next frame (the fixed waits
  // stay the upper bound). The windows keep the fixed pace.
  bool fast = false;
};

// What a front end sees while a read runs: the first answer came (before the
// parameters), and each parameter as it is read.
struct ReadProgress {
  std::function<void(int answeringAddress)> answered;
  std::function<void(const ParameterReading&)> parameter;
};

// Reads parameters 1..16 of the adapter at DeviceAddress after the plan's
// first request, each repeated at once when its answer is unusable. Keeps the
// 4-decimal text of each float in ParamText and the bytes in ParamRaw.
ReadOutcome ReadAdapter(Session& session, const ReadPlan& plan, const ReadProgress& progress = {});

// --- Writing ------------------------------------------------------------------

enum class WriteResult {
  AddressNotAcknowledged,    // nothing else was sent; DeviceAddress unchanged
  ParameterNotAcknowledged,  // the parameters before failedParameter were written
  Written,
};

struct WriteOutcome {
  WriteResult result = WriteResult::AddressNotAcknowledged;
  int failedParameter = 0;
};

// What a front end sees while a write runs: the adapter took its new address
// (the parameters follow), and each parameter written.
struct WriteProgress {
  std::function<void()> addressTaken;
  std::function<void(int index)> written;
};

// Writes `newAddress` into the address register of the adapter at
// DeviceAddress, talks to `newAddress` from then on, and writes parameters
// 1..16 of ParamImage there, each with a 50 ms pause after it. Each request is
// sent once more after 50 ms when it is not acknowledged.
WriteOutcome WriteImage(Session& session, int32_t newAddress, const WriteProgress& progress = {});

// --- The steps the operations are made of ------------------------------------------
// For the tests, the fuzz targets and the benchmarks; the front ends run the
// operations.

// Sends, and when it was not answered sends `retry` (the same request when
// empty) once more, pausing 50 ms before or after the second try.
bool AnsweredWithRetry(Session& session, const std::function<void()>& send, RetryPause pause,
                       const std::function<void()>& retry = {});

// Reads parameters 1..16, each repeated at once when its status is not 0,
// keeps the 4-decimal text of each float in ParamText, hands each reading to
// `read` and pauses `pauseMs`. A parameter that fails twice sets ReadFailed
// and ends the read: false.
bool ReadAllParameters(Session& session, const std::function<void(const ParameterReading&)>& read,
                       int pauseMs);

// Gives the adapter at DeviceAddress its new address (register 375); false
// when the adapter did not acknowledge it, twice.
bool WriteAddressRegister(Session& session, int32_t address);

// Writes parameters 1..16 from ParamImage, with `written(index)` and a 50 ms
// pause after each; false, ending the write, at a parameter the adapter did
// not acknowledge twice.
bool WriteAllParameters(Session& session, const std::function<void(int index)>& written);

// --- The address and the pass-through --------------------------------------------

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
