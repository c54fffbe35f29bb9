#pragma once
// "Доп.режим": switches the adapter at DeviceAddress into its byte-wise
// pass-through mode. From then on it no longer speaks Modbus, so after success
// the tool has nothing left to do and ends.

class Session;

// Sends the switch request (function 6, register 373, value 1), collects the
// answer and tells the user the outcome. Returns true when the adapter took
// the command and the tool must end; false when it did not answer properly or
// another exchange is running (then nothing is sent).
bool SwitchToPassThrough(Session& session);
