#pragma once
// Everything the tool needs from the operating system. Each obligation below
// is implemented once per platform, in <file>_unix.cpp or <file>_win.cpp, and
// the build picks one of each pair; the pairs sit in the folder of what uses
// them:
//
//   obligation             file                      declared
//   stop event             os/stop_event_*           TComStopEvent's members (os/stop_event.h)
//   settings store         os/settings_store_*       comdev::WriteSettings
//   file guard             os/file_guard_*           comdev::MakeFolders .. CommitPendingFile
//   console stop handler   os/console_*              RegisterConsoleHandler,
//   UnregisterConsoleHandler console output         os/console_*              GuardStandardStreams,
//   WriteStd, ... port device            serial/device_*           comdev::OpenDevice ..
//   comdev::WaitForEvent system port list       serial/port_list_*        comdev::ListSystemPorts,
//   DescribeSystemPorts network socket         net/socket_*              comdev::ResolveHost ..
//   comdev::WaitSocket
//
// This header includes nothing of the tool above it: only the types the two
// sides share (os/line_types.h, os/stop_event.h).
//
// The port's comdev functions return 0 or the system's own error number; the
// portable code (serial/, net/) turns that into the component's errors. The
// file guard returns its reasons as texts: they are shown as they stand.

#include "os/line_types.h"
#include "os/stop_event.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace comdev {

// --- Port device --------------------------------------------------------------

struct Device;  // the open device, defined by each platform
struct DeviceCloser {
  void operator()(Device* device) const noexcept;
};
using DevicePtr = std::unique_ptr<Device, DeviceCloser>;

// The system's code for an operation on a device that is not open.
extern const int kInvalidDevice;
// The code of an opening refused because a lock file under the port's name
// cannot be, its name being too long for the system: nobody could hold the
// port with it, but neither can the tool. Never returned where ports take no
// lock files.
extern const int kLockNameTooLong;

int OpenDevice(const std::string& port, DevicePtr& device);
// Whether the device's line is gone for good (hung up, unplugged), judged by
// the device itself and by `error`, what an operation on it just returned (0
// for none). Such a device stays useless until the name is opened again.
bool LineLost(const Device& device, int error);
// Aborts pending transfers, then closes. On failure the device stays open.
int CloseDevice(DevicePtr& device);
int SetBuffers(Device& device, int inputSize, int outputSize);
int SetLine(Device& device, const LineSettings& line);
int SetTimeouts(Device& device, const TimeoutSettings& timeouts);
int Write(Device& device, const void* buffer, int count, int& written);
int Read(Device& device, int count, std::string& received);
int PendingInput(Device& device, int& count);
// Waits for `events`, the stop event or the timeout; `events` becomes the
// events that occurred (empty on timeout or stop). A failure leaves `events`
// as it was.
int WaitForEvent(Device& device, TComEvents& events, const TComStopEvent* stop, int timeoutMs);

// --- Network socket ---------------------------------------------------------------
// A TCP connection to a serial device server; the tool only connects. The
// socket never blocks: every wait is WaitSocket's, bounded and ended by the
// stop event.

struct Socket;
struct SocketCloser {
  void operator()(Socket* socket) const noexcept;
};
using SocketPtr = std::unique_ptr<Socket, SocketCloser>;

// The system's codes for what the network line finds itself.
extern const int kNetTimedOut;  // no connection, or no settled negotiation, in time
extern const int kNetStopped;   // a stop request ended the wait
extern const int kNetBadName;   // a malformed network port name
extern const int kNetClosed;    // the server closed the connection
extern const int kNetRefused;   // the server refused the serial settings
extern const int kNetOverrun;   // the server sent more than the line's bounds hold

// The addresses of `host` for TCP port `service`, each an opaque socket
// address, in the system's order of preference. May take as long as the name
// service does. A failure is the lookup's own code (on Linux getaddrinfo's
// EAI_ codes, negative, or errno for EAI_SYSTEM; on Windows Winsock's).
int ResolveHost(const std::string& host, const std::string& service,
                std::vector<std::string>& addresses);
// Whether `code` is a failed lookup of the host's name, not a failed
// connection; and the lookup's own text for it where the code alone would not
// say (Linux: gai_strerror; empty where the system's code says it).
bool IsLookupFailure(int code);
std::string LookupFailureText(int code);
// Whether `code` is the server's host refusing the connection (nobody listens
// at that port).
bool IsConnectionRefused(int code);
// Connects to one of those addresses with TCP_NODELAY and keepalive; ends
// with kNetTimedOut after `timeoutMs` and with kNetStopped on the stop event.
int ConnectSocket(const std::string& address, const TComStopEvent* stop, int timeoutMs,
                  SocketPtr& socket);
// Sends what the system takes at once; `sent` may be 0.
int SendSome(Socket& socket, const char* bytes, int count, int& sent);
// Appends what has arrived, at most `limit` bytes, without waiting; `closed`
// once the server has closed the connection and everything before was taken.
int ReceiveSome(Socket& socket, std::string& into, int limit, bool& closed);
// Whether the connection is closed or broken, seen without taking any data.
bool SocketGone(const Socket& socket);
enum class SocketWait { Readable, Writable };
enum class SocketWake { Ready, Stopped, TimedOut };
// Waits until the socket can be read (data, or its end) or written, for the
// stop event or the timeout (ms; negative: no limit); `wake` tells which came.
int WaitSocket(Socket& socket, SocketWait what, const TComStopEvent* stop, int timeoutMs,
               SocketWake& wake);

// --- System port list -----------------------------------------------------------

// The system's serial ports as a user types them, sorted with SortPortNames.
int ListSystemPorts(std::vector<std::string>& ports);

// The ports of ListSystemPorts, in its order, each with its description and
// whether another program holds it. No port is written to or has its settings
// changed. Linux opens no port to find out (an open raises DTR): it judges the
// lock files as an opener does (removing none), the flocks of /proc/locks and
// the processes' open files. Windows has no other documented way than opening
// the port: a refused open (ERROR_ACCESS_DENIED) is a busy port, and a port
// that opens is closed at once, which some drivers answer by raising and
// dropping DTR and RTS for that moment.
int DescribeSystemPorts(std::vector<ComPortInfo>& ports);

// Puts port names in the order the port list shows them: without regard to
// letter case, so COM10 comes before COM2. Portable; the lists share it.
void SortPortNames(std::vector<std::string>& ports);

// A port's description from what the system knows of it, part by part:
// the known parts joined with ", ", empty ones left out. Portable; the lists
// share it.
std::string JoinDescription(const std::vector<std::string>& parts);

// --- Settings store -------------------------------------------------------------

// Named values in the order they are written: texts (QString) and 32-bit
// integers (qint32).
using SettingsValues = std::vector<std::pair<QString, QVariant>>;

// Writes `values` at `key` (segments separated by "\") of the per-user (or
// machine-wide) settings store, beside what the key holds already. Succeeds
// only when the store then really holds every one of them with its type: what
// the store itself reports after writing may not tell. A store kept in a file
// is never written through a link, nor are its folders made through one (see
// the file guard). Returns an empty text, or why the values are not stored.
QString WriteSettings(bool machineRoot, const QString& key, const SettingsValues& values);

// --- File guard -----------------------------------------------------------------
// Replacing a file whole, or not at all, without being led to a file nobody
// meant: the tool often runs as root in folders other users can write, where
// anyone can put a symbolic link (on Windows a reparse point) under the name
// it is about to write.

// Which links the name of a file to be replaced (or of a folder to be made)
// may be. Whatever the trust, every link on the way is judged at each hop of
// a link to a link, folders on the way included, by two rules:
// - it is followed only where the kernel itself would follow it with
//   fs.protected_symlinks=1: the link belongs to the process's effective user
//   or to the owner of its folder, or that folder is not both world-writable
//   and sticky ("A symbolic link of another user in a folder others can
//   write");
// - a link of an unprivileged user other than the effective user may not lead
//   to a file or folder of root or of the effective user, nor, where its
//   target is yet to be made, into a folder of theirs ("A symbolic link of
//   another user leads to a file or folder of root or of yours"): the tool
//   would write there for a user who may not. Links of the effective user,
//   and links to what their own owner owns, are followed.
// Windows follows links (reparse points) wherever they lead.
enum class LinkTrust {
  // A file (a folder) the tool names itself: the name itself is no link at
  // all ("Is a symbolic link"), dangling or not; on Windows no reparse point.
  kNone,
  // A file (a folder) the user named: the name itself may be a link too.
  kAsProtectedSymlinks,
};

// Makes the folder `path` names and every missing folder on the way to it,
// walking it as a file's name is walked: links are judged as `trust` allows
// and never followed to make what they name ("A symbolic link leads to a
// folder that is not there"). Missing folders are made with the system's
// default permissions, in the folder the walk holds, never through a link.
// Returns an empty text when the folder is there, or why not: the system's
// reason (a file in its place: "Not a directory") or the refusal of a link.
QString MakeFolders(const QString& path, LinkTrust trust);

// The way new content takes to the file it replaces: a new file in that
// file's folder, put in its place whole once written; or, where the folder
// takes no new file, the old file itself, overwritten in place.
struct PendingFile;
struct PendingFileCloser {
  void operator()(PendingFile* file) const;  // an uncommitted new file is removed
};
using PendingFilePtr = std::unique_ptr<PendingFile, PendingFileCloser>;

// Opens the way for new content of `path`; nothing of the file changes. The
// name must lead, as `trust` allows, to a regular file or to nothing yet.
// Returns an empty text, or why not: the system's reason, "Not a regular
// file", or the refusal of a link.
QString OpenPendingFile(const QString& path, LinkTrust trust, PendingFilePtr& file);

// Whether the content will overwrite the old file in place, so that a failure
// can leave it damaged.
bool WritesInPlace(const PendingFile& file);

// Puts `content` in the file's place; once only. Returns an empty text, or
// the system's reason why not; then, unless written in place, the old file is
// as it was.
QString CommitPendingFile(PendingFile& file, const QByteArray& content);

}  // namespace comdev

// --- Console stop handler ---------------------------------------------------------
// The console's stop requests (Ctrl+C in the terminal, the terminal closed, a
// termination request from the system). The tool runs without a console of
// its own, but when one asks it to stop, any port wait must end at once and
// the tool must then end as "Выход" does.

// Registers the handler again (each call replaces the previous registration):
// on a stop request it signals `stopEvent` at once, from whatever context the
// request arrives in, and then runs `onStop` on the user-interface thread.
// Once it returns, no stop request touches the stop event it replaced. A
// request the process was started to ignore (`nohup`) stays ignored.
void RegisterConsoleHandler(TComStopEvent* stopEvent, std::function<void()> onStop);

// Takes back the registration of `stopEvent` if it is the current one: stop
// requests get back what they did before the first registration, and once
// this returns none touches the stop event or runs its onStop, so both may be
// destroyed.
void UnregisterConsoleHandler(const TComStopEvent* stopEvent);

// --- Console output ------------------------------------------------------------------
// What the command line writes on its standard streams.

enum class StdStream { Output, Error };

// Run first thing in main. A standard stream the process was started without
// (closed) is held by the null device, so that no port or file opened later
// takes its number and receives what is meant for the stream; writes to
// standard output then fail as they would have. Writing to a pipe whose
// reader has gone fails (EPIPE) instead of ending the process, so that the
// port and its lock file are still freed.
void GuardStandardStreams();

// Writes `text` on the stream: to a console as Unicode, which it shows
// whatever its code page; anywhere else (a file, a pipe) as UTF-8 bytes.
// Returns 0, or the system's error number when not all of it got there (a
// full disk, a closed stream, a pipe nobody reads).
int WriteStd(StdStream stream, const QString& text);

// The system's text for an error number WriteStd returned.
QString StdErrorText(int error);

// Whether the standard error stream goes to a terminal (a person watching).
bool StderrIsTerminal();

// Whether that terminal takes escape sequences: "\x1b[K" erases the rest of
// the line there, where any other terminal would show it as it stands.
bool StderrErasesWithEscapes();
