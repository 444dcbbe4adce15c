#include "capture_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// ---- The clean-up list ------------------------------------------------------------
// What a stop or a failure removes: side files, and the folders the run made.
// Changed only with the stop signals blocked, so the handler never sees it
// half-changed; the handler itself only reads it and calls async-signal-safe
// functions.
struct Entry {
    int dirfd;
    std::string name;
    int unlinkFlags;  // AT_REMOVEDIR for a folder
    bool live;
};
std::vector<Entry> entries;
volatile sig_atomic_t child = 0;  // FFmpeg's pid, 0 when there is none
volatile sig_atomic_t progressLineOpen = 0;
sigset_t stops;

constexpr int STOP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};

size_t track(int dirfd, const std::string& name, int unlinkFlags) {
    entries.push_back({dirfd, name, unlinkFlags, true});
    return entries.size() - 1;
}

void cleanUp() {
    const pid_t pid = child;
    if (pid > 0) {
        kill(pid, SIGKILL);
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        child = 0;
    }
    for (size_t i = entries.size(); i-- > 0;) {  // files before the folders that hold them
        if (!entries[i].live) continue;
        unlinkat(entries[i].dirfd, entries[i].name.c_str(), entries[i].unlinkFlags);
        entries[i].live = false;
    }
}

void say(const char* text) {
    const ssize_t ignored = write(STDERR_FILENO, text, strlen(text));
    (void)ignored;
}

const char* signalName(int signo) {
    switch (signo) {
        case SIGINT: return "SIGINT";
        case SIGTERM: return "SIGTERM";
        case SIGHUP: return "SIGHUP";
        case SIGQUIT: return "SIGQUIT";
        case SIGPIPE: return "SIGPIPE";
        default: return "a signal";
    }
}

// The other stop signals are blocked while it runs (sa_mask), and it never
// returns.
extern "C" void onStopSignal(int signo) {
    cleanUp();
    if (progressLineOpen) say("\n");
    say(PROGRAM);
    say(": interrupted by ");
    say(signalName(signo));
    say("; nothing written\n");
    _exit(128 + signo);
}

// ---- Folders ------------------------------------------------------------------------
// A folder for *at() calls: opened for reading if it may be, else as a path
// alone (a folder we may write to but not list).
int openDir(int at, const char* name, bool& opened) {
    int fd = openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    opened = fd >= 0;
    if (fd < 0 && errno == EACCES) fd = openat(at, name, O_PATH | O_DIRECTORY | O_CLOEXEC);
    return fd;
}

[[noreturn]] void folderError(const std::string& path) {
    if (errno == ENOENT) fail(1, "output folder '" + path + "' does not exist");
    if (errno == ENOTDIR) fail(1, "'" + path + "' is not a folder");
    fail(1, "cannot use output folder '" + path + "': " + errorText());
}

// `path` one folder at a time from the root or the working directory, making
// the missing ones. The fds of the folders on the way stay open: the clean-up
// list names made folders relative to them.
int makeFolders(const std::string& path, bool& opened) {
    bool unused;
    int at = openDir(AT_FDCWD, path[0] == '/' ? "/" : ".", unused);
    for (size_t begin = 0; at >= 0 && begin < path.size();) {
        size_t end = path.find('/', begin);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(begin, end - begin);
        begin = end + 1;
        if (part.empty()) continue;
        int next = openDir(at, part.c_str(), opened);
        if (next < 0 && errno == ENOENT) {
            {
                HoldSignals hold;
                if (mkdirat(at, part.c_str(), 0777) == 0) track(at, part, AT_REMOVEDIR);
                else if (errno != EEXIST) fail(1, "cannot make output folder '" + path.substr(0, end) + "': " + errorText());
            }
            next = openDir(at, part.c_str(), opened);
        }
        if (next < 0) folderError(path.substr(0, end));
        at = next;
    }
    return at;
}

// Six letters or digits, different for every side name.
std::string randomTag() {
    constexpr char LETTERS[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static unsigned counter = 0;
    unsigned char bytes[6];
    if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        timespec t;
        clock_gettime(CLOCK_REALTIME, &t);
        unsigned long mix = static_cast<unsigned long>(t.tv_nsec) ^ static_cast<unsigned long>(getpid()) << 20 ^ ++counter;
        for (unsigned char& b : bytes) b = static_cast<unsigned char>(mix >>= 5);
    }
    std::string tag;
    for (unsigned char b : bytes) tag += LETTERS[b % (sizeof LETTERS - 1)];
    return tag;
}

// Side names keep the final name's start, short enough that the tag and
// ".part" never make the name too long for the file system (255 bytes).
constexpr size_t SIDE_STEM_MAX = 200;
constexpr int SIDE_ATTEMPTS = 100;

}  // namespace

// ---- Signals ----------------------------------------------------------------------
void installSignalHandlers() {
    sigemptyset(&stops);
    for (int s : STOP_SIGNALS) sigaddset(&stops, s);
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    action.sa_mask = stops;
    for (int s : STOP_SIGNALS) {
        struct sigaction old;
        if (sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        sigaction(s, &action, nullptr);
    }
    signal(SIGXFSZ, SIG_IGN);
}

const sigset_t& stopSignals() { return stops; }

HoldSignals::HoldSignals() { sigprocmask(SIG_BLOCK, &stops, &previous_); }
HoldSignals::~HoldSignals() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

void watchChild(pid_t pid) { child = pid; }
void forgetChild() { child = 0; }
void setProgressLineOpen(bool open) { progressLineOpen = open; }

void fail(int status, const std::string& message) {
    sigprocmask(SIG_BLOCK, &stops, nullptr);
    cleanUp();
    fprintf(stderr, "%s%s: %s\n", progressLineOpen ? "\n" : "", PROGRAM, message.c_str());
    exit(status);
}

// ---- Folders and files ---------------------------------------------------------
Folder openFolder(const std::string& path, bool make) {
    Folder folder{path};
    folder.fd = make ? makeFolders(path, folder.opened) : openDir(AT_FDCWD, path.c_str(), folder.opened);
    if (folder.fd < 0) folderError(path);
    if (faccessat(folder.fd, ".", W_OK | X_OK, 0) != 0) fail(1, "cannot write to output folder '" + path + "'");
    return folder;
}

std::string pathIn(const Folder& folder, const std::string& name) {
    if (folder.path == ".") return name;
    return folder.path + (folder.path.back() == '/' ? "" : "/") + name;
}

SideFile createSideFile(const Folder& folder, const std::string& name) {
    SideFile file{"", name, pathIn(folder, name)};
    struct stat st;
    if (fstatat(folder.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode))
        fail(1, "'" + file.shown + "' is a folder");
    const std::string stem = name.substr(0, name.size() < SIDE_STEM_MAX ? name.size() : SIDE_STEM_MAX);
    for (int attempt = 0; attempt < SIDE_ATTEMPTS; attempt++) {
        file.side = stem + "." + randomTag() + ".part";
        HoldSignals hold;
        file.fd = openat(folder.fd, file.side.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (file.fd >= 0) {
            file.entry = track(folder.fd, file.side, 0);
            return file;
        }
        if (errno != EEXIST) fail(1, "cannot write to output folder '" + folder.path + "': " + errorText());
    }
    fail(1, "cannot find a free side name for '" + file.shown + "'");
}

std::string errorText() { return strerror(errno); }

bool writeAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            errno = EIO;  // a write that takes nothing and says no more
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void writeSideFile(const SideFile& file, const void* data, size_t size) {
    if (!writeAll(file.fd, data, size)) fail(1, "cannot write '" + file.shown + "': " + errorText());
}

void closeSideFile(SideFile& file) {
    // Some file systems report a full disk only here.
    if (fsync(file.fd) != 0 && errno != EINVAL) fail(1, "cannot write '" + file.shown + "': " + errorText());
    const int closed = close(file.fd);
    file.fd = -1;
    if (closed != 0 && errno != EINTR) fail(1, "cannot write '" + file.shown + "': " + errorText());
}

void commit(const Folder& folder, std::vector<SideFile>& files, const std::string& report) {
    // Waiting for the lock can be interrupted; once it is held, nothing stops
    // the renames and the report. The lock goes when the process exits.
    if (folder.opened) flock(folder.fd, LOCK_EX);
    sigprocmask(SIG_BLOCK, &stops, nullptr);
    for (SideFile& f : files) {
        if (renameat(folder.fd, f.side.c_str(), folder.fd, f.name.c_str()) != 0)
            fail(1, "cannot write '" + f.shown + "': " + errorText());
        entries[f.entry].live = false;
    }
    if (folder.opened) fsync(folder.fd);  // the new names, on the disk
    fprintf(stderr, "%s%s\n", progressLineOpen ? "\n" : "", report.c_str());
    progressLineOpen = false;
}
