#pragma once
// The service operations that change an adapter, each with its change
// record: the entry goes to the session's history (flushed to the disk)
// before the first write frame, and is completed when the operation ends,
// however it ends. The frames are those of the operation alone. Where the
// entry cannot be written, nothing is sent. A session without a history
// (tests, tl8ctl --no-history) writes without a record.

#include "modbus/service.h"

#include <QString>

#include <cstdint>

// Who writes, for the record, and what the user is told when a step goes
// unanswered (the entry keeps that message).
struct WriteRecordSetup {
  QString frontEnd;
  QString noAnswerText;
};

struct RecordedWriteOutcome {
  WriteOutcome write;
  QString refusal;          // the entry could not be written: nothing was sent
  QString entryId;          // empty without a history
  QString completionError;  // the entry stays as it was first written
};

// WriteImage of the session's ParamImage, recorded: 17 steps, the address
// register and the 16 parameters. A port failure or a stop request is
// recorded as the step's failure and passed on.
RecordedWriteOutcome WriteImageRecorded(Session& session, const WriteRecordSetup& setup,
                                        int32_t newAddress, const WriteProgress& progress = {});

struct RecordedAddressOutcome {
  bool confirmed = false;  // the adapter answered at its new address (when asked to confirm)
  QString refusal;
  QString entryId;
  QString completionError;
};

// BroadcastNewAddress, recorded; with `confirm`, then the search's read at the
// new address (a second step: a failure of it is recorded as the step's).
RecordedAddressOutcome BroadcastNewAddressRecorded(Session& session, const WriteRecordSetup& setup,
                                                   int32_t address, bool confirm);

// A write that does not go out because the image read before it did not
// check out: recorded as such with the session's ParamImage as what would
// have been sent. Empty text, or why it could not be recorded.
QString RecordChecksumMismatch(Session& session, const WriteRecordSetup& setup, int32_t newAddress,
                               const QString& message);
