#include "capture_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
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
sigset_t stops;  // every signal we handle

// What ends a process by default, but SIGKILL and SIGSTOP, which cannot be
// caught, and SIGXFSZ, which is ignored. The real-time signals are added at
// run time (SIGRTMIN is glibc's to choose).
constexpr int ENDING_SIGNALS[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT, SIGBUS,
                                  SIGFPE,  SIGUSR1, SIGSEGV,   SIGUSR2, SIGPIPE, SIGALRM, SIGTERM,
                                  SIGSTKFLT, SIGXCPU, SIGVTALRM, SIGPROF, SIGIO, SIGPWR,  SIGSYS};
// Those a fault of the program raises; one of our own ends the process as
// it would have (a core, a sanitizer's report) once the clean-up is done.
constexpr int FAULT_SIGNALS[] = {SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGSEGV, SIGSYS};
struct sigaction previousAction[NSIG];

// Names for the handler, which may not build strings: "SIGTERM", "SIGRTMIN+2".
constexpr size_t SIGNAL_NAME_BYTES = 24;
char signalNames[NSIG][SIGNAL_NAME_BYTES];

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

bool isFault(int signo) {
    for (int s : FAULT_SIGNALS)
        if (s == signo) return true;
    return false;
}

// Sent by another process (kill, sigqueue), as opposed to raised by a fault
// or by abort() in this one.
bool sentByAnother(const siginfo_t* info) { return info->si_code <= 0 && info->si_pid != getpid(); }

// The other handled signals are blocked while it runs (sa_mask). It never
// returns, but after a fault of our own, to let the fault end the process.
extern "C" void onSignal(int signo, siginfo_t* info, void*) {
    cleanUp();
    if (progressLineOpen) say("\n");
    say(PROGRAM);
    if (isFault(signo) && !sentByAnother(info)) {
        say(": stopped by a fault (");
        say(signalNames[signo]);
        say("); nothing written\n");
        sigaction(signo, &previousAction[signo], nullptr);
        raise(signo);  // delivered with the old action once this returns
        return;
    }
    say(": interrupted by ");
    say(signalNames[signo]);
    say("; nothing written\n");
    _exit(128 + signo);
}

void nameSignals() {
    for (int s = 1; s < NSIG; s++) {
        const char* abbreviation = sigabbrev_np(s);
        if (abbreviation)
            snprintf(signalNames[s], SIGNAL_NAME_BYTES, "SIG%s", abbreviation);
        else if (s == SIGRTMIN || s == SIGRTMAX)
            snprintf(signalNames[s], SIGNAL_NAME_BYTES, s == SIGRTMIN ? "SIGRTMIN" : "SIGRTMAX");
        else if (s > SIGRTMIN && s < SIGRTMAX)  // as kill -l names them
            snprintf(signalNames[s], SIGNAL_NAME_BYTES, s - SIGRTMIN <= SIGRTMAX - s ? "SIGRTMIN+%d" : "SIGRTMAX-%d",
                     std::min(s - SIGRTMIN, SIGRTMAX - s));
        else
            snprintf(signalNames[s], SIGNAL_NAME_BYTES, "signal %d", s);
    }
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
// ".part" never make the name too long for the file system.
constexpr size_t SIDE_STEM_MAX = 200;
constexpr size_t SIDE_TAIL_BYTES = sizeof ".XXXXXX.part" - 1;
constexpr int SIDE_ATTEMPTS = 100;
// Times a run makes its folder again after another run's clean-up removed it
// under it; each time that run is gone, so a second is rare.
constexpr int FOLDER_ATTEMPTS = 10;
constexpr long TURN_POLL_NS = 50000000;  // 50 ms between looks at a taken lock

// Bytes of the UTF-8 character that starts at `at`; 0 when none does.
size_t utf8Length(const std::string& s, size_t at) {
    const unsigned char c = static_cast<unsigned char>(s[at]);
    const size_t n = c >= 0xc2 && c <= 0xdf ? 2 : c >= 0xe0 && c <= 0xef ? 3 : c >= 0xf0 && c <= 0xf4 ? 4 : 0;
    if (n == 0 || at + n > s.size()) return 0;
    for (size_t k = 1; k < n; k++)
        if ((static_cast<unsigned char>(s[at + k]) & 0xc0) != 0x80) return 0;
    return n;
}

size_t nameMax(const Folder& folder) {
    const long n = fpathconf(folder.fd, _PC_NAME_MAX);
    return n > 0 ? static_cast<size_t>(n) : NAME_MAX;
}

// Fails when `name` may not be replaced; true with its lstat when it exists.
bool inspectTarget(const Folder& folder, const std::string& name, struct stat& st) {
    const std::string shown = pathIn(folder.path, name);
    if (name.size() > nameMax(folder))
        fail(1, "cannot write '" + shown + "': its name is " + std::to_string(name.size()) +
                    " bytes long, and its file system takes at most " + std::to_string(nameMax(folder)));
    if (fstatat(folder.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) return false;
        fail(1, "cannot write '" + shown + "': " + errorText());
    }
    if (S_ISDIR(st.st_mode)) fail(1, "'" + shown + "' is a folder");
    // A link is replaced as a link, as ever; what it points to is not ours.
    // Root may write anything, so a file without a write bit is refused on
    // its mode alone, as the user meant it.
    if (!S_ISLNK(st.st_mode)) {
        if ((st.st_mode & 0222) == 0) fail(1, "will not replace '" + shown + "': it is read-only");
        if (faccessat(folder.fd, name.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0)
            fail(1, "will not replace '" + shown + "': " + errorText());
    }
    // In a sticky folder (/tmp) only the file's or the folder's owner may
    // rename over it; root may anyway.
    struct stat dir;
    const uid_t me = geteuid();
    if (fstat(folder.fd, &dir) == 0 && (dir.st_mode & S_ISVTX) && me != 0 && st.st_uid != me && dir.st_uid != me)
        fail(1, "will not replace '" + shown + "': it belongs to another user in a sticky folder");
    return true;
}

// False, with errno ENOENT, when the folder is gone; any other error ends the
// run.
bool makeSideFile(const Folder& folder, const std::string& name, SideFile& file) {
    struct stat st;
    const bool replaces = inspectTarget(folder, name, st);
    file = SideFile{"", name, pathIn(folder.path, name)};
    file.keep = replaces && S_ISREG(st.st_mode);
    file.mode = st.st_mode & 07777;
    file.owner = st.st_uid;
    file.group = st.st_gid;
    const size_t stem = std::min({name.size(), SIDE_STEM_MAX, std::max<size_t>(nameMax(folder), SIDE_TAIL_BYTES + 1) - SIDE_TAIL_BYTES});
    for (int attempt = 0; attempt < SIDE_ATTEMPTS; attempt++) {
        file.side = name.substr(0, stem) + "." + randomTag() + ".part";
        HoldSignals hold;
        // Private while it is written when it replaces a file; its own mode
        // comes when it is closed.
        file.fd = openat(folder.fd, file.side.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                         file.keep ? 0600 : 0666);
        if (file.fd >= 0) {
            file.entry = track(folder.fd, file.side, 0);
            return true;
        }
        if (errno == ENOENT) return false;
        if (errno != EEXIST) fail(1, "cannot write to output folder '" + folder.path + "': " + errorText());
    }
    fail(1, "cannot find a free side name for '" + file.shown + "'");
}

// The mode and the owner of the file it replaces: the owner first, since a
// change of owner clears the set-user and set-group bits. What the user may
// not give stays as made (private).
void keepMode(const SideFile& file) {
    const uid_t owner = geteuid() == 0 ? file.owner : static_cast<uid_t>(-1);
    if (fchown(file.fd, owner, file.group) != 0 && owner != static_cast<uid_t>(-1)) {
        const int ignored = fchown(file.fd, static_cast<uid_t>(-1), file.group);
        (void)ignored;
    }
    const int ignored = fchmod(file.fd, file.mode);
    (void)ignored;
}

// Where the folder is now, when it was renamed since it was opened.
void noteMove(Folder& folder) {
    struct stat held, named;
    if (fstat(folder.fd, &held) != 0) return;
    if (stat(folder.path.c_str(), &named) == 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino) return;
    char now[PATH_MAX];
    const ssize_t n = readlink(("/proc/self/fd/" + std::to_string(folder.fd)).c_str(), now, sizeof now - 1);
    if (n <= 0) return;
    const std::string path(now, static_cast<size_t>(n));
    const std::string deleted = " (deleted)";
    if (path.size() >= deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) return;
    folder.path = path;
    folder.moved = true;
}

// The folder's lock, held until the process ends. Waiting can be
// interrupted; on a terminal it says so once a second.
void waitTurn(const Folder& folder) {
    if (!folder.opened || flock(folder.fd, LOCK_EX | LOCK_NB) == 0) return;
    if (!isatty(STDERR_FILENO)) {
        while (flock(folder.fd, LOCK_EX) != 0 && errno == EINTR) {
        }
        return;
    }
    const double start = monotonicSeconds();
    long said = -1;
    do {
        const long waited = static_cast<long>(monotonicSeconds() - start);
        if (waited != said) {
            fprintf(stderr, "%swaiting for another run to finish writing into '%s': %ld s ",
                    said < 0 ? (progressLineOpen ? "\n" : "") : "\r", escaped(folder.path).c_str(), waited);
            progressLineOpen = true;
            said = waited;
        }
        const timespec pause = {0, TURN_POLL_NS};
        nanosleep(&pause, nullptr);
    } while (flock(folder.fd, LOCK_EX | LOCK_NB) != 0 && (errno == EWOULDBLOCK || errno == EINTR));
}

}  // namespace

// ---- Signals ----------------------------------------------------------------------
void installSignalHandlers() {
    nameSignals();
    std::vector<int> ending(std::begin(ENDING_SIGNALS), std::end(ENDING_SIGNALS));
    for (int s = SIGRTMIN; s <= SIGRTMAX; s++) ending.push_back(s);
    sigemptyset(&stops);
    for (int s : ending)
        if (sigaction(s, nullptr, &previousAction[s]) == 0 && previousAction[s].sa_handler != SIG_IGN) sigaddset(&stops, s);
    struct sigaction action = {};
    action.sa_sigaction = onSignal;
    action.sa_flags = SA_SIGINFO;
    action.sa_mask = stops;
    for (int s : ending)
        if (sigismember(&stops, s) == 1) sigaction(s, &action, nullptr);
    signal(SIGXFSZ, SIG_IGN);
}

const sigset_t& stopSignals() { return stops; }

std::string signalName(int signo) {
    return signo > 0 && signo < NSIG && signalNames[signo][0] ? signalNames[signo] : "signal " + std::to_string(signo);
}

HoldSignals::HoldSignals() { sigprocmask(SIG_BLOCK, &stops, &previous_); }
HoldSignals::~HoldSignals() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

void watchChild(pid_t pid) { child = pid; }
void forgetChild() { child = 0; }
void setProgressLineOpen(bool open) { progressLineOpen = open; }

void fail(int status, const std::string& message) {
    sigprocmask(SIG_BLOCK, &stops, nullptr);
    cleanUp();
    fprintf(stderr, "%s%s: %s\n", progressLineOpen ? "\n" : "", PROGRAM, escaped(message).c_str());
    exit(status);
}

// ---- Folders and files ---------------------------------------------------------
Folder openFolder(const std::string& path, bool make, SideFile& first, const std::string& firstName) {
    for (int attempt = 1;; attempt++) {
        const size_t made = entries.size();
        Folder folder{path};
        folder.fd = make ? makeFolders(path, folder.opened) : openDir(AT_FDCWD, path.c_str(), folder.opened);
        if (folder.fd < 0) folderError(path);
        if (faccessat(folder.fd, ".", W_OK | X_OK, 0) != 0)
            fail(1, "cannot write to output folder '" + path + "': " + errorText());
        if (makeSideFile(folder, firstName, first)) return folder;
        // Another run's clean-up removed the folder between the two steps:
        // what this attempt made is gone with it.
        struct stat st;
        if (fstat(folder.fd, &st) != 0 || st.st_nlink > 0 || attempt == FOLDER_ATTEMPTS)
            fail(1, "cannot write to output folder '" + path + "': " + strerror(ENOENT));
        HoldSignals hold;
        for (size_t i = made; i < entries.size(); i++) entries[i].live = false;
        close(folder.fd);
    }
}

std::string pathIn(const std::string& folder, const std::string& name) {
    if (folder == ".") return name;
    return folder + (folder.back() == '/' ? "" : "/") + name;
}

void checkTarget(const Folder& folder, const std::string& name) {
    struct stat st;
    inspectTarget(folder, name, st);
}

double freeBytes(const Folder& folder) {
    struct statvfs fs;
    if (fstatvfs(folder.fd, &fs) != 0) return -1;
    // Root may use the blocks the file system keeps back for it.
    return static_cast<double>(geteuid() == 0 ? fs.f_bfree : fs.f_bavail) * static_cast<double>(fs.f_frsize);
}

SideFile createSideFile(const Folder& folder, const std::string& name) {
    SideFile file;
    if (!makeSideFile(folder, name, file))
        fail(1, "cannot write to output folder '" + folder.path + "': " + errorText());
    return file;
}

std::string errorText() { return strerror(errno); }

double monotonicSeconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

std::string escaped(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t n = c < 0x80 ? 1 : utf8Length(text, i);
        // C0 and DEL; C1 written in UTF-8 (U+0080 to U+009F); and a stray byte
        // of that range, which a Latin-1 terminal takes for C1.
        const bool control = c < 0x20 || c == 0x7f || (n == 2 && c == 0xc2 && static_cast<unsigned char>(text[i + 1]) < 0xa0) ||
                             (n == 0 && c <= 0x9f);
        const size_t bytes = n ? n : 1;
        if (!control) out.append(text, i, bytes);
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c == '\r') out += "\\r";
        else
            for (size_t k = i; k < i + bytes; k++) {
                char hex[8];
                snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(text[k]));
                out += hex;
            }
        i += bytes;
    }
    return out;
}

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
    if (file.keep) keepMode(file);
    // Some file systems report a full disk only here.
    if (fsync(file.fd) != 0 && errno != EINVAL) fail(1, "cannot write '" + file.shown + "': " + errorText());
    const int closed = close(file.fd);
    file.fd = -1;
    if (closed != 0 && errno != EINTR) fail(1, "cannot write '" + file.shown + "': " + errorText());
}

void commit(Folder& folder, std::vector<SideFile>& files) {
    // Once the turn is ours, nothing stops the checks, the renames and the
    // report. The lock goes when the process exits.
    noteMove(folder);
    waitTurn(folder);
    sigprocmask(SIG_BLOCK, &stops, nullptr);
    noteMove(folder);
    for (SideFile& f : files) {
        f.shown = pathIn(folder.path, f.name);
        checkTarget(folder, f.name);  // it may have changed while we worked
    }
    for (SideFile& f : files) {
        if (renameat(folder.fd, f.side.c_str(), folder.fd, f.name.c_str()) != 0)
            fail(1, "cannot write '" + f.shown + "': " + errorText());
        entries[f.entry].live = false;
    }
    if (folder.opened) fsync(folder.fd);  // the new names, on the disk
}

void report(const std::string& line) {
    fprintf(stderr, "%s%s\n", progressLineOpen ? "\n" : "", escaped(line).c_str());
    progressLineOpen = false;
}
