// velmorante-capture's output files and clean-up. A run leaves behind only
// what it finished: every file is written under a side name of its own in its
// target folder and renamed into place once complete. A stop signal or an
// error removes the side files and the folders the run made, kills FFmpeg,
// and exits; nothing appears under a final name.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

constexpr char PROGRAM[] = "velmorante-capture";

// ---- Signals --------------------------------------------------------------------
// Every signal whose default action ends the process stops the run, whatever
// it is doing, with exit status 128 + its number: SIGINT, SIGTERM, SIGHUP,
// SIGQUIT, SIGPIPE, SIGUSR1, SIGALRM, the real-time signals and the rest. One
// that was ignored when the program started (nohup, a background job) stays
// ignored. SIGXFSZ is ignored, so that a file size limit shows as a failed
// write. A fault of our own (SIGSEGV, SIGBUS, ...; not one sent by another
// process) cleans up too, then ends the process as it would have.
void installSignalHandlers();
const sigset_t& stopSignals();

// "SIGTERM", "SIGRTMIN+2", ...; "signal N" for one it does not know.
std::string signalName(int signo);

// Blocks the stop signals while it lives, so that what it guards (making a
// file and listing it for clean-up, starting FFmpeg and noting its pid) is
// never cut in two.
class HoldSignals {
public:
    HoldSignals();
    ~HoldSignals();
    HoldSignals(const HoldSignals&) = delete;
    HoldSignals& operator=(const HoldSignals&) = delete;

private:
    sigset_t previous_;
};

// FFmpeg, killed and reaped by the clean-up; both with the signals held.
void watchChild(pid_t pid);
void forgetChild();

// True while a progress line is open on the terminal: a message then starts
// on a line of its own.
void setProgressLineOpen(bool open);

// strerror(errno), as a message's end.
std::string errorText();

// Seconds on the monotonic clock: for progress and waits, never the date.
double monotonicSeconds();

// `text` with its control characters shown as \n, \t, \r or \xHH, so that a
// name cannot break a message's line or speak to the terminal.
std::string escaped(const std::string& text);

// All of `data` to `fd`, going on after interruptions; false, with errno
// set, when a write fails.
bool writeAll(int fd, const void* data, size_t size);

// Cleans up as a stop signal does, prints "velmorante-capture: MESSAGE" as one
// line on stderr (escaped) and exits with `status`.
[[noreturn]] void fail(int status, const std::string& message);

// ---- Folders and files ---------------------------------------------------------
// An output folder, held open: side files are made, renamed and removed
// relative to it, wherever the working directory is meanwhile.
struct Folder {
    std::string path;     // as given; where it is now after commit
    int fd = -1;
    bool opened = false;  // opened for reading (not O_PATH): it can be locked and synced
    bool moved = false;   // renamed while the run went on (known at commit)
};

struct SideFile {
    std::string side;   // the side name in the folder, NAME.XXXXXX.part
    std::string name;   // the final name in the folder
    std::string shown;  // the final path, for messages
    int fd = -1;
    size_t entry = 0;   // its place in the clean-up list
    bool keep = false;  // it replaces a file whose mode and owner it takes over
    mode_t mode = 0;
    uid_t owner = 0;
    gid_t group = 0;
};

// Opens the output folder `path`, which must be writable (with `make`, the
// missing folders on the way are made, and removed again if the run fails),
// and makes the side file of `first` in it at once. From then on the folder
// holds an entry of this run, so no other run's clean-up can remove it while
// this one uses it.
Folder openFolder(const std::string& path, bool make, SideFile& first, const std::string& firstName);

// `name` in a folder at `folder`, as the user would write it ("." and "/"
// kept short).
std::string pathIn(const std::string& folder, const std::string& name);

// Fails at once, before any work, when `name` could not be put in place in
// `folder`: too long for its file system, a folder, a file the user has made
// read-only or may not replace (another's file in a sticky folder).
void checkTarget(const Folder& folder, const std::string& name);

// Free bytes of the folder's file system for this user; -1 when unknown.
double freeBytes(const Folder& folder);

// Makes a new, empty side file for `name` in `folder`, listed for clean-up,
// after checkTarget. When it replaces a file it is private until it is
// closed, and then takes that file's mode and, where the user may, owner.
SideFile createSideFile(const Folder& folder, const std::string& name);
// Writes all of `data` to it; a write error ends the run.
void writeSideFile(const SideFile& file, const void* data, size_t size);
// Gives it the mode to keep, flushes it to the disk and closes it; an error
// ends the run.
void closeSideFile(SideFile& file);

// Renames every side file to its final name, after checking each target
// again. Runs that commit into the same folder take turns (on a terminal, a
// wait says so once a second), so a run's files are in place when it reports.
// From here on the run cannot be stopped: it is done. `folder.path` then
// names where the folder is now.
void commit(Folder& folder, std::vector<SideFile>& files);

// The run's last line on stderr, escaped.
void report(const std::string& line);
