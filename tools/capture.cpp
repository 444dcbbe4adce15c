// velmorante-capture: renders the demo's pictures, and a video with its
// soundtrack, without a screen or a sound card. Frame N of a capture is what
// the demo shows when its frame counter is N.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <SDL/SDL.h>

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FLIplay.h"
#include "Output.h"
#include "Plasma.h"
#include "capture_files.h"
#include "png_out.h"

namespace {

constexpr int EXIT_USAGE = 2;  // a bad command line
constexpr int EXIT_CANNOT_RUN = 127;  // the child's status when FFmpeg could not be run, as the shell's
const char* const DATA_FILES[] = {FLI_FILE, FONT_FILE, TEXTURE_FILE};

// Limits of the command line. Every sum and product made from it stays far
// inside 64 bits: at most 86,400,000 frames and 1,905,120,000 sound frames.
constexpr double MIN_RATE = 0.01;          // frames a second
constexpr double MAX_RATE = 1000;
constexpr double MAX_SECONDS = 24 * 3600;  // the longest video
constexpr double MAX_ZOOM = 32768;         // |ZOOM| below this
constexpr double MAX_ANGLE = 1e6;          // |ANGLE| at most this
constexpr int MAX_TEXT = SCREEN_W / GLYPH_SIDE;  // characters across the picture; the rest is cut
constexpr size_t REPORT_NAMES = 10;        // frame files named in the report; more are summed up

const char USAGE[] =
    "usage: velmorante-capture [--data DIR] --frame N [--frame M ...] -o|--out DIR\n"
    "       velmorante-capture [--data DIR] --frames A:B --rate R -o|--out FILE.mp4|FILE.webm|FILE.mkv\n"
    "       velmorante-capture [--data DIR] --effect plasma|rotozoomer:ANGLE:ZOOM|text:TEXT [--effect ...]"
    " -o|--out FILE.png\n"
    "       velmorante-capture --help | --version\n";

const char HELP[] =
    "\n"
    "Renders the Velmorante demo without a screen or a sound card. Frame N is the\n"
    "picture the demo shows when its frame counter is N.\n"
    "\n"
    "  --frame N        write frame N as DIR/frame-N.png, 1280 x 720; repeatable;\n"
    "                   DIR and its missing parents are made\n"
    "  --frames A:B     render frames A to B (A <= B) as a video, with the soundtrack\n"
    "                   looped under it from its first byte\n"
    "  --rate R         frames a second of the video, from 0.01 to 1000; the video\n"
    "                   lasts (B - A + 1) / R seconds, at most 24 hours (86400 s)\n"
    "  --effect E       draw an effect the demo never shows, in order over black:\n"
    "                   plasma, rotozoomer:ANGLE:ZOOM (degrees, texels a pixel;\n"
    "                   |ANGLE| <= 1e6, |ZOOM| < 32768) or text:TEXT (centred, the\n"
    "                   first 80 characters)\n"
    "  -o, --out PATH   the folder for --frame, the file otherwise\n"
    "  --data DIR       the folder holding robotrk.fli, fonts16.bin and tarnwhisk.bmp;\n"
    "                   by default ../share/velmorante beside the program when it\n"
    "                   holds them, else the working directory\n"
    "  -h, --help       show this help\n"
    "  --version        show the version\n"
    "\n"
    "Frame numbers are whole numbers from -2147483648 to 2147483647. Options take\n"
    "their value as '--opt value' or '--opt=value'; output names are plain file\n"
    "names, whatever they hold. .mp4 is H.264 and AAC, .webm VP9 and Opus, .mkv\n"
    "FFV1 and FLAC (lossless). Videos need FFmpeg.\n"
    "\n"
    "Files are written under side names (NAME.XXXXXX.part) and renamed when\n"
    "complete; a run that fails or is stopped by any signal leaves nothing behind.\n"
    "A file already there is replaced only when you may write to it (one without\n"
    "write permission never, even for root), and keeps its mode and owner. Names,\n"
    "permissions, the data files and, for a video, its least size against the free\n"
    "space are checked before rendering starts.\n"
    "Exit status: 0 done, 1 failed, 2 bad command line, 128 + N stopped by signal N.\n";

[[noreturn]] void usageError(const std::string& problem) {
    fprintf(stderr, "%s: %s\n%sTry '%s --help' for more.\n", PROGRAM, escaped(problem).c_str(), USAGE, PROGRAM);
    exit(EXIT_USAGE);
}

[[noreturn]] void printAndExit(const std::string& text) {
    fputs(text.c_str(), stdout);
    exit(fflush(stdout) == 0 ? 0 : 1);
}

// ---- Command line -------------------------------------------------------------
enum class Mode { none, frames, video, effect };

struct Effect {
    enum class Kind { plasma, rotozoomer, text } kind;
    float angle = 0, zoom = 0;  // rotozoomer
    std::string text;
};

struct Options {
    Mode mode = Mode::none;
    std::vector<int32_t> frames;  // --frame, in the order given, each once
    int32_t first = 0, last = 0;  // --frames A:B
    double rate = 0;              // --rate; 0 when not given
    std::vector<Effect> effects;  // --effect, drawn in order over a black picture
    std::string out, data;
};

bool parseInt32(const std::string& text, int32_t& value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long long v = strtoll(text.c_str(), &end, 10);
    if (errno || *end || v < INT32_MIN || v > INT32_MAX) return false;
    value = static_cast<int32_t>(v);
    return true;
}

bool parseNumber(const std::string& text, double& value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    value = strtod(text.c_str(), &end);
    return !errno && !*end && std::isfinite(value);
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() &&
           std::equal(tail.begin(), tail.end(), s.end() - static_cast<long>(tail.size()),
                      [](char a, char b) { return tolower(static_cast<unsigned char>(a)) == b; });
}

void setMode(Options& o, Mode m) {
    if (o.mode != Mode::none && o.mode != m) usageError("--frame, --frames and --effect do not go together");
    o.mode = m;
}

void setOnce(std::string& field, const std::string& option, const std::string& value) {
    if (!field.empty()) usageError("'" + option + "' is given twice");
    if (value.empty()) usageError("'" + option + "' needs a value");
    field = value;
}

Effect parseEffect(const std::string& e) {
    if (e == "plasma") return {Effect::Kind::plasma, 0, 0, ""};
    if (e.rfind("rotozoomer:", 0) == 0) {
        const std::string args = e.substr(11);
        const size_t colon = args.find(':');
        double angle = 0, zoom = 0;
        if (colon == std::string::npos || !parseNumber(args.substr(0, colon), angle) ||
            !parseNumber(args.substr(colon + 1), zoom) || fabs(zoom) >= MAX_ZOOM || fabs(angle) > MAX_ANGLE)
            usageError("bad rotozoomer '" + e + "' (want rotozoomer:ANGLE:ZOOM, |ANGLE| <= 1e6, |ZOOM| below 32768)");
        return {Effect::Kind::rotozoomer, static_cast<float>(angle), static_cast<float>(zoom), ""};
    }
    if (e.rfind("text:", 0) == 0) return {Effect::Kind::text, 0, 0, e.substr(5, MAX_TEXT)};
    usageError("unknown effect '" + e + "' (plasma, rotozoomer:ANGLE:ZOOM or text:TEXT)");
}

void applyOption(Options& o, const std::string& name, const std::string& value) {
    if (name == "--frame") {
        int32_t n;
        if (!parseInt32(value, n)) usageError("bad frame number '" + value + "'");
        setMode(o, Mode::frames);
        if (std::find(o.frames.begin(), o.frames.end(), n) == o.frames.end()) o.frames.push_back(n);
    } else if (name == "--frames") {
        if (o.mode == Mode::video) usageError("'--frames' is given twice");
        const size_t colon = value.find(':');
        if (colon == std::string::npos || !parseInt32(value.substr(0, colon), o.first) ||
            !parseInt32(value.substr(colon + 1), o.last) || o.first > o.last)
            usageError("bad frame range '" + value + "' (want A:B with A <= B)");
        setMode(o, Mode::video);
    } else if (name == "--rate") {
        if (o.rate != 0) usageError("'--rate' is given twice");
        if (!parseNumber(value, o.rate) || !(o.rate >= MIN_RATE && o.rate <= MAX_RATE))
            usageError("bad rate '" + value + "' (frames a second, from 0.01 to 1000)");
    } else if (name == "--effect") {
        setMode(o, Mode::effect);
        o.effects.push_back(parseEffect(value));
    } else if (name == "--out" || name == "-o") {
        setOnce(o.out, name, value);
    } else if (name == "--data") {
        setOnce(o.data, name, value);
    }
}

bool takesValue(const std::string& name) {
    for (const char* known : {"--frame", "--frames", "--rate", "--effect", "--out", "-o", "--data"})
        if (name == known) return true;
    return false;
}

// `value`, past `limit`, with the decimals it takes to show that it is past
// (86400.001, not 86400).
std::string beyond(double value, double limit) {
    char text[64];
    for (int decimals = 0;; decimals++) {
        snprintf(text, sizeof text, "%.*f", decimals, value);
        if (strtod(text, nullptr) > limit || decimals == DBL_DIG) return text;
    }
}

// What the options ask for must make sense together, and a video must stay
// within the limits.
void checkOptions(const Options& o) {
    if (o.mode == Mode::none) usageError("say what to capture: --frame, --frames or --effect");
    if (o.out.empty()) usageError("say where to write: -o or --out");
    if (o.mode == Mode::video && o.rate == 0) usageError("--frames needs --rate");
    if (o.mode != Mode::video && o.rate != 0) usageError("--rate goes with --frames only");
    if (o.mode == Mode::video) {
        if (!endsWith(o.out, ".mp4") && !endsWith(o.out, ".webm") && !endsWith(o.out, ".mkv"))
            usageError("--frames writes a .mp4, .webm or .mkv file");
        const double seconds = (static_cast<double>(o.last) - o.first + 1) / o.rate;
        if (seconds > MAX_SECONDS) {
            char problem[160];
            snprintf(problem, sizeof problem, "frames %d to %d at %g a second last %s s; the longest video is 24 hours (86400 s)",
                     o.first, o.last, o.rate, beyond(seconds, MAX_SECONDS).c_str());
            usageError(problem);
        }
    }
    if (o.mode == Mode::effect && !endsWith(o.out, ".png")) usageError("--effect writes a .png file");
}

// Options are "--name value", "--name=value", "-o value" or "-oVALUE".
Options parseArguments(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") printAndExit(std::string(USAGE) + HELP);
        if (arg == "--version") printAndExit(std::string(PROGRAM) + " " + VELMORANTE_VERSION + "\n");
        std::string name = arg, value;
        bool joined = true;
        if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
            name = arg.substr(0, arg.find('='));
            value = arg.substr(arg.find('=') + 1);
        } else if (arg.rfind("-o", 0) == 0 && arg.size() > 2) {
            name = "-o";
            value = arg.substr(2);
        } else {
            joined = false;
        }
        if (!takesValue(name)) usageError("unknown argument '" + arg + "'");
        if (!joined) {
            if (i + 1 >= argc) usageError("'" + arg + "' needs a value");
            value = argv[++i];
        }
        applyOption(o, name, value);
    }
    checkOptions(o);
    return o;
}

// ---- Data -------------------------------------------------------------------------
std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string dataPath(const std::string& dir, const char* name) { return dir == "." ? name : dir + "/" + name; }

// Null when the three files are there and are files; else the first problem.
std::string dataProblem(const std::string& dir) {
    for (const char* name : DATA_FILES) {
        const std::string path = dataPath(dir, name);
        const char* why = nullptr;
        FILE* f = openDataFile(path.c_str(), &why);
        if (!f) return "cannot read data file '" + path + "': " + (why ? why : strerror(errno));
        fclose(f);
    }
    return "";
}

// share/velmorante of an installed copy: beside the program's bin/ folder.
std::string installedDataFolder() {
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return "";
    exe[n] = '\0';
    return folderOf(exe) + "/" + VELMORANTE_BIN_TO_DATA;  // the install's own layout
}

// --data if given; else the installed folder when it holds the files; else
// the working directory (data/ in a source tree).
std::string chooseDataFolder(const Options& o) {
    if (!o.data.empty()) {
        const std::string problem = dataProblem(o.data);
        if (!problem.empty()) fail(1, problem);
        return o.data;
    }
    const std::string installed = installedDataFolder();
    if (!installed.empty() && dataProblem(installed).empty()) return installed;
    const std::string problem = dataProblem(".");
    if (!problem.empty()) fail(1, problem + " (run it from data/, or give --data DIR)");
    return ".";
}

// The demo's start-up, and so its generator's history: Init reads the files by
// their names in the working directory, which goes back afterwards, so that
// relative output names keep their meaning.
void loadData(const std::string& dir) {
    if (dir == ".") {
        Init();
        return;
    }
    const int here = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (here < 0) fail(1, "cannot note the working directory: " + errorText());
    if (chdir(dir.c_str()) != 0) fail(1, "cannot enter data folder '" + dir + "': " + errorText());
    Init();
    if (fchdir(here) != 0) fail(1, "cannot return to the working directory: " + errorText());
    close(here);
}

// ---- Progress -----------------------------------------------------------------------
std::string clockText(double seconds) {
    const long s = std::lround(seconds);
    char text[32];
    if (s >= 3600) snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

// A video's length: seconds under a minute, else the clock.
std::string lengthText(double seconds) {
    if (seconds >= 60) return clockText(seconds);
    char text[32];
    snprintf(text, sizeof text, "%.4g s", seconds);
    return text;
}

// On a terminal: a bar, frames a second and the time left, a few times a
// second. Elsewhere nothing: the report at the end is the one line.
class Progress {
public:
    explicit Progress(int64_t total) : total_(total), tty_(isatty(STDERR_FILENO)), start_(monotonicSeconds()) {}

    void update(int64_t done) {
        const double t = monotonicSeconds();
        if (!tty_ || (t - shown_ < SHOW_EVERY && done < total_)) return;
        shown_ = t;
        const double rate = done / std::max(t - start_, 1e-3);
        const int filled = static_cast<int>(done * WIDTH / total_);
        fprintf(stderr, "\r[%-*s] %3d%%  frame %lld of %lld  %.1f fps  %s left ", WIDTH, std::string(filled, '#').c_str(),
                static_cast<int>(done * 100 / total_), static_cast<long long>(done), static_cast<long long>(total_), rate,
                clockText((total_ - done) / rate).c_str());
        setProgressLineOpen(true);
    }
    double seconds() const { return monotonicSeconds() - start_; }

private:
    static constexpr int WIDTH = 30;
    static constexpr double SHOW_EVERY = 0.25;  // seconds
    int64_t total_;
    bool tty_;
    double start_, shown_ = -1;
};

// ---- Pictures -------------------------------------------------------------------
SDL_Surface* makePicture() {
    SDL_Surface* s = newPicture();
    if (!s) fail(1, std::string("cannot make a picture: ") + SDL_GetError());
    return s;
}

// The picture as a PNG in memory first: a write error then comes from one
// plain write() with its errno, never from inside libpng.
std::vector<char> encodePng(const SDL_Surface* picture, const std::string& shown) {
    char* bytes = nullptr;
    size_t size = 0;
    FILE* memory = open_memstream(&bytes, &size);
    const bool encoded = memory && writeRgbPng(memory, picture, 0, 0, picture->w, picture->h);
    if (memory) fclose(memory);
    std::vector<char> png(bytes, bytes + (encoded ? size : 0));
    free(bytes);
    if (!encoded) fail(1, "cannot encode '" + shown + "'");
    return png;
}

void savePng(SideFile& file, const SDL_Surface* picture) {
    const std::vector<char> png = encodePng(picture, file.shown);
    writeSideFile(file, png.data(), png.size());
    closeSideFile(file);
}

std::string framesReport(const Folder& folder, const std::vector<SideFile>& files) {
    std::string report = "wrote " + std::to_string(files.size()) + (files.size() == 1 ? " frame" : " frames") + " to " +
                         folder.path + ":";
    for (size_t k = 0; k < files.size(); k++) {
        if (files.size() > REPORT_NAMES && k == REPORT_NAMES - 1) report += " ...";
        if (files.size() > REPORT_NAMES && k >= REPORT_NAMES - 1 && k + 1 < files.size()) continue;
        report += " " + files[k].name;
    }
    return report;
}

std::string frameName(int32_t n) { return "frame-" + std::to_string(n) + ".png"; }

// `first` is the side file of the first frame, made with the folder.
void captureFrames(const Options& o, Folder& folder, const SideFile& first) {
    SDL_Surface* picture = makePicture();
    screen = picture;
    Progress progress(static_cast<int64_t>(o.frames.size()));
    std::vector<SideFile> files;
    for (int32_t n : o.frames) {
        Script(n);
        files.push_back(files.empty() ? first : createSideFile(folder, frameName(n)));
        savePng(files.back(), picture);
        progress.update(static_cast<int64_t>(files.size()));
    }
    commit(folder, files);
    report(framesReport(folder, files));
    SDL_FreeSurface(picture);
}

// One effect drawn over what the picture already holds (the two full-screen
// effects cover it all; text is laid over it).
void drawEffect(SDL_Surface* picture, const Effect& e) {
    switch (e.kind) {
        case Effect::Kind::plasma: plasma(picture); break;
        case Effect::Kind::rotozoomer: rotozoomer(picture, e.angle, e.zoom); break;
        case Effect::Kind::text: {
            const int len = static_cast<int>(e.text.size());
            Print((SCREEN_W - GLYPH_SIDE * len) / 2, (SCREEN_H - GLYPH_SIDE) / 2, e.text.data(), len);  // centred
            break;
        }
    }
}

// The output as given, or in the folder's new place when it was renamed
// while the run went on.
std::string outputNow(const Options& o, const Folder& folder) {
    return folder.moved ? pathIn(folder.path, baseOf(o.out)) : o.out;
}

void captureEffects(const Options& o, Folder& folder, SideFile& file) {
    SDL_Surface* picture = makePicture();  // black
    screen = picture;
    for (const Effect& e : o.effects) drawEffect(picture, e);
    savePng(file, picture);
    std::vector<SideFile> files = {file};
    commit(folder, files);
    report("wrote " + outputNow(o, folder));
    SDL_FreeSurface(picture);
}

// ---- Video ----------------------------------------------------------------------
// Floors for a video's size, from the demo's own frames: 300-frame runs from
// frames -5000, 1, 3000, 7000, 20000 and 1,000,000,000 at 1000 frames a
// second, where they come out smallest, took 23 to 49 kB a frame in .mp4, 27
// to 64 kB in .webm and 451 to 532 kB in .mkv (FFmpeg 5.1). The lossy floors are a quarter of the
// smallest, since their size follows the content and the encoder's version;
// FFV1 keeps every pixel of the noisy tiles, and its floor is half. The sound
// (the noise loop) took 21.8 kB a second in AAC, 19.7 in Opus and 86.8 in
// FLAC (88.2 raw); its floors are half the bit rates asked of AAC and Opus,
// and half the raw samples.
struct Container {
    const char* extension;
    const char* format;  // FFmpeg's muxer
    std::vector<const char*> codecs;
    double frameBytes;           // at least, a frame
    double soundBytesPerSecond;  // at least
};

const Container CONTAINERS[] = {
    {".mp4", "mp4", {"-c:v", "libx264", "-preset", "medium", "-crf", "18", "-pix_fmt", "yuv420p",
                     "-c:a", "aac", "-b:a", "160k", "-movflags", "+faststart"}, 5000, 10000},
    {".webm", "webm", {"-c:v", "libvpx-vp9", "-crf", "30", "-b:v", "0", "-pix_fmt", "yuv420p",
                       "-c:a", "libopus", "-b:a", "128k", "-ar", "48000"}, 5000, 8000},
    // Lossless both ways: the pictures and the sound decode back bit for bit.
    {".mkv", "matroska", {"-c:v", "ffv1", "-level", "3", "-pix_fmt", "bgr0", "-c:a", "flac"}, 200000, AUDIO_RATE * 2.0},
};

const Container& containerFor(const std::string& path) {
    for (const Container& c : CONTAINERS)
        if (endsWith(path, c.extension)) return c;
    usageError("--frames writes a .mp4, .webm or .mkv file");
}

// "37.2 TB": bytes in the decimal units df -H shows.
std::string bytesText(double bytes) {
    const char* const UNITS[] = {"bytes", "kB", "MB", "GB", "TB", "PB"};
    size_t unit = 0;
    while (bytes >= 1000 && unit + 1 < sizeof UNITS / sizeof *UNITS) {
        bytes /= 1000;
        unit++;
    }
    char text[32];
    snprintf(text, sizeof text, unit ? "%.1f %s" : "%.0f %s", bytes, UNITS[unit]);
    return text;
}

// A video that cannot fit in the free space of its folder's file system is
// refused before it starts. The estimate is a floor (see Container), so a
// video that would fit is never refused.
void checkSpace(const Options& o, const Folder& folder) {
    const Container& c = containerFor(o.out);
    const double count = static_cast<double>(o.last) - o.first + 1;
    const double needs = count * c.frameBytes + count / o.rate * c.soundBytesPerSecond;
    const double free = freeBytes(folder);
    if (free >= 0 && needs > free)
        fail(1, "'" + o.out + "' would take at least " + bytesText(needs) + " (frames " + std::to_string(o.first) +
                    " to " + std::to_string(o.last) + "), and its file system has " + bytesText(free) + " free");
}

// The full path of `program` on PATH, or "" when it is not there.
std::string findOnPath(const char* program) {
    const char* path = getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (size_t at = 0; at <= dirs.size();) {
        size_t end = dirs.find(':', at);
        if (end == std::string::npos) end = dirs.size();
        const std::string candidate = (end > at ? dirs.substr(at, end - at) : ".") + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        at = end + 1;
    }
    return "";
}

// The sound loop, once, in memory: FFmpeg reads it as /proc/self/fd/N and
// repeats it. Nothing on disk, whatever the video's length. Not close-on-exec:
// FFmpeg inherits it.
int soundLoop(const std::vector<uint8_t>& loop) {
    const int fd = memfd_create("velmorante-sound-loop", 0);
    if (fd < 0 || !writeAll(fd, loop.data(), loop.size()))
        fail(1, "cannot hold the soundtrack for ffmpeg: " + errorText());
    return fd;
}

// The FFmpeg command: raw pictures from standard input at the rate, the loop
// repeated and cut to the video's length in sound frames, both files by the
// file: protocol and with their formats named, so that no name is ever taken
// for a URL, a device or an option. The output is our side file, reached
// through its descriptor: no path length limits it, and a folder renamed
// meanwhile changes nothing. Messages from the info level on, each marked with
// its level, so that a stop by a signal shows (FFmpeg catches SIGINT and
// SIGTERM and exits 255).
std::vector<std::string> ffmpegArguments(const Options& o, const std::string& output, int sound) {
    char rate[32];
    snprintf(rate, sizeof rate, "%.17g", o.rate);
    const int64_t count = static_cast<int64_t>(o.last) - o.first + 1;
    const long long soundFrames = std::llround(static_cast<double>(count) * AUDIO_RATE / o.rate);
    std::vector<std::string> args = {
        "ffmpeg", "-nostdin", "-hide_banner", "-nostats", "-loglevel", "level+info", "-y",
        "-f", "rawvideo", "-pix_fmt", "bgr0", "-s", std::to_string(SCREEN_W) + "x" + std::to_string(SCREEN_H),
        "-framerate", rate, "-i", "pipe:0",
        "-stream_loop", "-1", "-f", "s16le", "-ar", std::to_string(AUDIO_RATE), "-ac", std::to_string(AUDIO_CHANNELS),
        "-i", "file:/proc/self/fd/" + std::to_string(sound),
        "-map", "0:v", "-map", "1:a", "-af", "atrim=end_sample=" + std::to_string(soundFrames)};
    const Container& c = containerFor(o.out);
    args.insert(args.end(), c.codecs.begin(), c.codecs.end());
    args.insert(args.end(), {"-f", c.format, "file:" + output});
    return args;
}

// The job-control stops: a stop meant for us may reach FFmpeg too while it
// still shares our process group.
constexpr int JOB_STOPS[] = {SIGTSTP, SIGTTIN, SIGTTOU};

// In the child, from fork to exec: only calls that are safe there. FFmpeg gets
// a process group of its own (Ctrl-C is ours to handle), the stop signals at
// their defaults and none blocked; a job-control stop that arrived since the
// fork is dropped, not left pending for FFmpeg.
[[noreturn]] void execFfmpeg(const char* program, char* const* argv, int input, int log, int output) {
    setpgid(0, 0);
    for (int s : JOB_STOPS) {
        signal(s, SIG_IGN);  // discards one that is pending
        signal(s, SIG_DFL);
    }
    for (int s = 1; s < NSIG; s++)
        if (sigismember(&stopSignals(), s) == 1) signal(s, SIG_DFL);
    if (dup2(input, STDIN_FILENO) < 0 || dup2(log, STDERR_FILENO) < 0 || fcntl(output, F_SETFD, 0) != 0)
        _exit(EXIT_CANNOT_RUN);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execv(program, argv);
    _exit(EXIT_CANNOT_RUN);
}

// Starts FFmpeg reading pictures from `input`, its messages into `log`, and
// writing through `output`, which it inherits. fork,
// not posix_spawn: posix_spawn waits, with every signal held, until the child
// has exec'd, so a child stopped on its way there would hang the run beyond
// the reach of Ctrl-C. After fork a stopped FFmpeg is one that reads nothing,
// which the stop signals handle.
pid_t startFfmpeg(const std::string& program, const std::vector<std::string>& args, int input, int log, int output) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    sigset_t held = stopSignals(), previous;
    for (int s : JOB_STOPS) sigaddset(&held, s);
    sigprocmask(SIG_BLOCK, &held, &previous);
    const pid_t pid = fork();
    if (pid == 0) execFfmpeg(program.c_str(), argv.data(), input, log, output);
    const int error = errno;
    if (pid > 0) watchChild(pid);
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (pid < 0) {
        errno = error;
        fail(1, "cannot start ffmpeg: " + errorText());
    }
    return pid;
}

// Waits for FFmpeg to end; it is reaped with the signals held, so that the
// clean-up never kills a pid that is no longer ours.
int waitFfmpeg(pid_t pid) {
    siginfo_t info;
    while (waitid(P_PID, pid, &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
    HoldSignals hold;
    int status = 0;
    waitpid(pid, &status, 0);
    forgetChild();
    return status;
}

// Sends a whole picture; false once FFmpeg has stopped reading for good. A
// socket rather than a pipe: MSG_NOSIGNAL makes a gone reader an error, not
// a SIGPIPE, which stays a signal from outside.
bool sendPicture(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Every `from` in `text` that no digit follows ("/proc/self/fd/5", not the
// start of "/proc/self/fd/57") becomes `to`.
void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = 0; !from.empty() && (at = text.find(from, at)) != std::string::npos;) {
        const size_t end = at + from.size();
        if (end < text.size() && isdigit(static_cast<unsigned char>(text[end]))) {
            at = end;
            continue;
        }
        text.replace(at, from.size(), to);
        at += to.size();
    }
}

// A line of FFmpeg's at error level or worse, without its level's mark; ""
// for the others. The mark follows the sender's "[name @ 0x...] ", if any.
std::string errorLine(const std::string& line) {
    for (const std::string mark : {"[error] ", "[fatal] ", "[panic] "}) {
        const size_t at = line.find(mark);
        if (at != std::string::npos && (at == 0 || (at >= 2 && line.compare(at - 2, 2, "] ") == 0)))
            return line.substr(0, at) + line.substr(at + mark.size());
    }
    return "";
}

// What FFmpeg said, from its messages.
struct FfmpegLog {
    std::string lastError;      // its last error message, the side file shown as the output
    int caught = 0;             // the signal it caught and exited on (status 255), if any
    bool outputFailed = false;  // an error naming the output: it may exit 0 after one (5.1, a full disk under .webm)
};

FfmpegLog readFfmpegLog(int log, const std::string& output, const std::string& shown) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    lseek(log, 0, SEEK_SET);
    while ((n = read(log, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    const std::string CAUGHT = "Exiting normally, received signal ";
    FfmpegLog said;
    for (size_t begin = 0; begin < text.size();) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        const std::string raw = text.substr(begin, end - begin);
        begin = end + 1;
        const size_t caught = raw.find(CAUGHT);
        if (caught != std::string::npos) said.caught = atoi(raw.c_str() + caught + CAUGHT.size());
        std::string line = errorLine(raw);
        if (line.empty() || line == "Conversion failed!") continue;
        std::string named = line;
        replaceAll(named, output, "");
        said.outputFailed = said.outputFailed || named != line;
        replaceAll(line, "file:" + output, shown);
        replaceAll(line, output, shown);
        said.lastError = line;
    }
    return said;
}

// Why FFmpeg failed, in one line: the signal that stopped it, else its last
// error message, which names the cause (a full disk: "... No space left on
// device").
std::string ffmpegProblem(const FfmpegLog& said, int status) {
    if (WIFSIGNALED(status)) return "killed by " + signalName(WTERMSIG(status));
    if (said.caught) return "stopped by " + signalName(said.caught);
    if (!said.lastError.empty()) return said.lastError;
    if (WEXITSTATUS(status) == EXIT_CANNOT_RUN) return "it could not be run";
    return "exit status " + std::to_string(WEXITSTATUS(status));
}

// `file` is the video's side file, made with the folder.
void captureVideo(const Options& o, Folder& folder, const std::string& ffmpeg, const std::vector<uint8_t>& loop,
                  SideFile& file) {
    const std::string output = "/proc/self/fd/" + std::to_string(file.fd);
    const int sound = soundLoop(loop);
    const int log = memfd_create("ffmpeg-messages", MFD_CLOEXEC);
    int feed[2];
    if (log < 0 || socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, feed) != 0)
        fail(1, "cannot set up ffmpeg: " + errorText());
    const pid_t child = startFfmpeg(ffmpeg, ffmpegArguments(o, output, sound), feed[1], log, file.fd);
    close(feed[1]);
    close(sound);

    SDL_Surface* picture = makePicture();
    screen = picture;
    const int64_t count = static_cast<int64_t>(o.last) - o.first + 1;
    Progress progress(count);
    bool fed = true;
    for (int64_t k = 0; k < count && fed; k++) {
        Script(static_cast<int32_t>(o.first + k));
        fed = sendPicture(feed[0], picture->pixels, SCREEN_BYTES);
        if (fed) progress.update(k + 1);
    }
    close(feed[0]);
    const int status = waitFfmpeg(child);
    const FfmpegLog said = readFfmpegLog(log, output, o.out);
    if (!fed || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || said.outputFailed)
        fail(1, "ffmpeg could not make '" + o.out + "': " + ffmpegProblem(said, status));
    closeSideFile(file);
    SDL_FreeSurface(picture);

    char details[160];
    snprintf(details, sizeof details, ": frames %d to %d at %g a second, %s long, made in %.1f s", o.first, o.last,
             o.rate, lengthText(count / o.rate).c_str(), progress.seconds());
    std::vector<SideFile> files = {file};
    commit(folder, files);
    report("wrote " + outputNow(o, folder) + details);
}

}  // namespace

int main(int argc, char** argv) {
    openStandardDescriptors();
    installSignalHandlers();
    const Options options = parseArguments(argc, argv);
    // The output is checked (and the frames' folder made, with the first
    // side file in it) before the second of loading, so that a mistake there
    // shows at once.
    const bool video = options.mode == Mode::video, frames = options.mode == Mode::frames;
    SideFile first;
    Folder folder = frames ? openFolder(options.out, true, first, frameName(options.frames[0]))
                           : openFolder(folderOf(options.out), false, first, baseOf(options.out));
    if (frames)
        for (int32_t n : options.frames) checkTarget(folder, frameName(n));
    const std::string ffmpeg = video ? findOnPath("ffmpeg") : "";
    if (video && ffmpeg.empty()) fail(1, "ffmpeg not found; install it with: apt-get install ffmpeg");
    if (video) checkSpace(options, folder);

    loadData(chooseDataFolder(options));
    switch (options.mode) {
        case Mode::frames: captureFrames(options, folder, first); break;
        case Mode::video: {
            // The loop's draws follow the volume's, as in the demo.
            std::vector<uint8_t> sound(NOISE_BYTES);
            noiseBuild(sound.data(), 1);
            captureVideo(options, folder, ffmpeg, sound, first);
            break;
        }
        case Mode::effect: captureEffects(options, folder, first); break;
        case Mode::none: break;
    }
    return 0;
}
