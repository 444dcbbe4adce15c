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
// SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGPIPE: each stops the run, whatever it
// is doing, with exit status 128 + its number. One that was ignored when the
// program started (nohup, a background job) stays ignored. SIGXFSZ is ignored,
// so that a file size limit shows as a failed write.
void installSignalHandlers();
const sigset_t& stopSignals();

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

// All of `data` to `fd`, going on after interruptions; false, with errno
// set, when a write fails.
bool writeAll(int fd, const void* data, size_t size);

// Cleans up as a stop signal does, prints "velmorante-capture: MESSAGE" as one
// line on stderr and exits with `status`.
[[noreturn]] void fail(int status, const std::string& message);

// ---- Folders and files ---------------------------------------------------------
// An output folder, held open: side files are made, renamed and removed
// relative to it, wherever the working directory is meanwhile.
struct Folder {
    std::string path;     // as given
    int fd = -1;
    bool opened = false;  // opened for reading (not O_PATH): it can be locked and synced
};

// Opens the output folder `path`, which must be writable. With `make`, the
// missing folders on the way are made (and removed again if the run fails).
Folder openFolder(const std::string& path, bool make);

// `name` in `folder` as the user would write it ("." and "/" kept short).
std::string pathIn(const Folder& folder, const std::string& name);

struct SideFile {
    std::string side;   // the side name in the folder, NAME.XXXXXX.part
    std::string name;   // the final name in the folder
    std::string shown;  // the final path, for messages
    int fd = -1;
    size_t entry = 0;   // its place in the clean-up list
};

// Makes a new, empty side file for `name` in `folder`, listed for clean-up.
SideFile createSideFile(const Folder& folder, const std::string& name);
// Writes all of `data` to it; a write error ends the run.
void writeSideFile(const SideFile& file, const void* data, size_t size);
// Flushes it to the disk and closes it; an error ends the run.
void closeSideFile(SideFile& file);

// Renames every side file to its final name, then prints `report` on stderr.
// Runs that commit into the same folder take turns, so a run's files are in
// place when it reports. From here on the run cannot be stopped: it is done.
void commit(const Folder& folder, std::vector<SideFile>& files, const std::string& report);
