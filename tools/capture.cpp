// velmorante-capture: renders the demo's pictures, and a video with its
// soundtrack, without a screen or a sound card. Frame N of a capture is what
// the demo shows when its frame counter is N.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <SDL/SDL.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FLIplay.h"
#include "Plasma.h"
#include "png_out.h"

extern char** environ;

namespace {

constexpr int EXIT_USAGE = 2;        // a bad command line
constexpr int EXIT_INTERRUPTED = 130;
constexpr int SOUND_FRAME_BYTES = 2 * AUDIO_CHANNELS;  // 16-bit samples
constexpr size_t PICTURE_BYTES = static_cast<size_t>(SCREEN_W) * SCREEN_H * 4;
const char* const DATA_FILES[] = {"robotrk.fli", "fonts16.bin", "tarnwhisk.bmp"};

volatile sig_atomic_t interrupted = 0;

void onSignal(int) { interrupted = 1; }

[[noreturn]] void fail(int status, const std::string& message) {
    fprintf(stderr, "velmorante-capture: %s\n", message.c_str());
    exit(status);
}

void usage(const std::string& problem) {
    fprintf(stderr,
            "velmorante-capture: %s\n"
            "usage: velmorante-capture --frame N [--frame M ...] --out DIR\n"
            "       velmorante-capture --frames A:B --rate R --out FILE.mp4|FILE.webm|FILE.mkv\n"
            "       velmorante-capture --effect plasma|rotozoomer:ANGLE:ZOOM|text:TEXT [--effect ...] --out FILE.png\n"
            "Effects are drawn in order over a black picture; text is centred.\n"
            "Run it from data/: it reads robotrk.fli, fonts16.bin and tarnwhisk.bmp there.\n",
            problem.c_str());
    exit(EXIT_USAGE);
}

// ---- Command line -------------------------------------------------------------
enum class Mode { none, frames, video, effect };

struct Options {
    Mode mode = Mode::none;
    std::vector<int32_t> frames;  // --frame, in the order given
    int32_t first = 0, last = 0;  // --frames A:B
    double rate = 0;              // --rate
    std::vector<std::string> effects;  // --effect, drawn in order over a black picture
    std::string out;
};

bool parseInt32(const std::string& text, int32_t& value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long long v = strtoll(text.c_str(), &end, 10);
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

void setMode(Options& o, Mode m) {
    if (o.mode != Mode::none && o.mode != m) usage("--frame, --frames and --effect do not go together");
    o.mode = m;
}

Options parseArguments(int argc, char** argv) {
    Options o;
    bool haveRate = false;
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") usage("renders the demo to pictures and video");
        if (i + 1 >= argc) usage("'" + arg + "' needs a value");
        const std::string value = argv[++i];
        if (arg == "--frame") {
            int32_t n;
            if (!parseInt32(value, n)) usage("bad frame number '" + value + "'");
            setMode(o, Mode::frames);
            o.frames.push_back(n);
        } else if (arg == "--frames") {
            const size_t colon = value.find(':');
            if (colon == std::string::npos || !parseInt32(value.substr(0, colon), o.first) ||
                !parseInt32(value.substr(colon + 1), o.last) || o.first > o.last)
                usage("bad frame range '" + value + "' (want A:B with A <= B)");
            setMode(o, Mode::video);
        } else if (arg == "--rate") {
            if (!parseNumber(value, o.rate) || o.rate <= 0 || o.rate > 1000)
                usage("bad rate '" + value + "' (frames a second, above 0 and at most 1000)");
            haveRate = true;
        } else if (arg == "--effect") {
            setMode(o, Mode::effect);
            o.effects.push_back(value);
        } else if (arg == "--out") {
            o.out = value;
        } else {
            usage("unknown argument '" + arg + "'");
        }
    }
    if (o.mode == Mode::none) usage("say what to capture: --frame, --frames or --effect");
    if (o.out.empty()) usage("say where to write: --out");
    if (o.mode == Mode::video && !haveRate) usage("--frames needs --rate");
    if (o.mode != Mode::video && haveRate) usage("--rate goes with --frames only");
    return o;
}

// ---- Files ----------------------------------------------------------------------
std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

void requireWritableFolder(const std::string& dir) {
    struct stat st;
    if (stat(dir.c_str(), &st) != 0) fail(1, "output folder '" + dir + "' does not exist");
    if (!S_ISDIR(st.st_mode)) fail(1, "'" + dir + "' is not a folder");
    if (access(dir.c_str(), W_OK | X_OK) != 0) fail(1, "cannot write to output folder '" + dir + "'");
}

void requireDataFiles() {
    for (const char* name : DATA_FILES)
        if (access(name, R_OK) != 0)
            fail(1, std::string("missing data file '") + name + "' (run from the data/ folder)");
}

// Writes the picture as an 8-bit RGB PNG: to a side name first, so that no
// half-written file ever stands under the final name.
void writePng(const SDL_Surface* surface, const std::string& path) {
    const std::string partial = path + ".part";
    FILE* f = fopen(partial.c_str(), "wb");
    if (!f) fail(1, "cannot write '" + partial + "': " + strerror(errno));
    const bool encoded = writeRgbPng(f, surface, 0, 0, surface->w, surface->h);
    const bool closed = fclose(f) == 0;
    if (!encoded) {
        unlink(partial.c_str());
        fail(1, "cannot encode '" + path + "'");
    }
    if (!closed || rename(partial.c_str(), path.c_str()) != 0) {
        unlink(partial.c_str());
        fail(1, "cannot write '" + path + "': " + strerror(errno));
    }
}

// ---- Pictures -------------------------------------------------------------------
SDL_Surface* newPicture() {
    SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, SCREEN_W, SCREEN_H, 32, 0xFF0000, 0xFF00, 0xFF, 0);
    if (!s) fail(1, std::string("cannot make a picture: ") + SDL_GetError());
    return s;
}

void captureFrames(const Options& o) {
    requireWritableFolder(o.out);
    SDL_Surface* picture = newPicture();
    screen = picture;
    for (int32_t n : o.frames) {
        if (interrupted) exit(EXIT_INTERRUPTED);
        Script(n);
        writePng(picture, o.out + "/frame-" + std::to_string(n) + ".png");
    }
    SDL_FreeSurface(picture);
}

// One effect drawn over what the picture already holds (the two full-screen
// effects cover it all; text is laid over it).
void drawEffect(SDL_Surface* picture, const std::string& e) {
    if (e == "plasma") {
        plasma(picture);
    } else if (e.rfind("rotozoomer:", 0) == 0) {
        const std::string args = e.substr(11);
        const size_t colon = args.find(':');
        double angle, zoom;
        if (colon == std::string::npos || !parseNumber(args.substr(0, colon), angle) ||
            !parseNumber(args.substr(colon + 1), zoom) || fabs(zoom) >= 32768 || fabs(angle) > 1e6)
            usage("bad rotozoomer '" + e + "' (want rotozoomer:ANGLE:ZOOM, |ZOOM| below 32768)");
        rotozoomer(picture, static_cast<float>(angle), static_cast<float>(zoom));
    } else if (e.rfind("text:", 0) == 0) {
        const std::string text = e.substr(5);
        const int len = static_cast<int>(text.size() < SCREEN_W / 16 ? text.size() : SCREEN_W / 16);
        Print((SCREEN_W - 16 * len) / 2, (SCREEN_H - 16) / 2, text.data(), len);  // centred
    } else {
        usage("unknown effect '" + e + "' (plasma, rotozoomer:ANGLE:ZOOM or text:TEXT)");
    }
}

void captureEffects(const Options& o) {
    if (!endsWith(o.out, ".png")) usage("--effect writes a .png file");
    requireWritableFolder(folderOf(o.out));
    SDL_Surface* picture = newPicture();  // black
    screen = picture;
    for (const std::string& e : o.effects) drawEffect(picture, e);
    writePng(picture, o.out);
    SDL_FreeSurface(picture);
}

// ---- Video ----------------------------------------------------------------------
struct Container {
    const char* extension;
    const char* format;  // FFmpeg's muxer
    std::vector<const char*> codecs;
};

const Container CONTAINERS[] = {
    {".mp4", "mp4", {"-c:v", "libx264", "-preset", "medium", "-crf", "18", "-pix_fmt", "yuv420p",
                     "-c:a", "aac", "-b:a", "160k", "-movflags", "+faststart"}},
    {".webm", "webm", {"-c:v", "libvpx-vp9", "-crf", "30", "-b:v", "0", "-pix_fmt", "yuv420p",
                       "-c:a", "libopus", "-b:a", "128k", "-ar", "48000"}},
    // Lossless both ways: the pictures and the sound decode back bit for bit.
    {".mkv", "matroska", {"-c:v", "ffv1", "-level", "3", "-pix_fmt", "bgr0", "-c:a", "flac"}},
};

const Container* containerFor(const std::string& path) {
    for (const Container& c : CONTAINERS)
        if (endsWith(path, c.extension)) return &c;
    return nullptr;
}

bool onPath(const char* program) {
    const char* path = getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (size_t at = 0; at <= dirs.size();) {
        size_t end = dirs.find(':', at);
        if (end == std::string::npos) end = dirs.size();
        const std::string candidate = (end > at ? dirs.substr(at, end - at) : ".") + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return true;
        at = end + 1;
    }
    return false;
}

// The soundtrack looped from its first byte to exactly the video's length,
// as a raw 16-bit stereo file for FFmpeg.
std::string writeSound(const std::vector<uint8_t>& loop, int64_t frames, double rate) {
    const char* tmp = getenv("TMPDIR");
    std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/velmorante-capture-XXXXXX";
    int fd = mkstemp(name.data());
    if (fd < 0) fail(1, "cannot make a scratch file for the sound: " + std::string(strerror(errno)));
    FILE* f = fdopen(fd, "wb");
    int64_t bytes = llround(static_cast<double>(frames) * AUDIO_RATE / rate) * SOUND_FRAME_BYTES;
    bool ok = f != nullptr;
    while (ok && bytes > 0) {
        const size_t part = static_cast<size_t>(bytes < static_cast<int64_t>(loop.size()) ? bytes : loop.size());
        ok = fwrite(loop.data(), 1, part, f) == part;
        bytes -= static_cast<int64_t>(part);
    }
    if (!f || fclose(f) != 0 || !ok) {
        unlink(name.c_str());
        fail(1, "cannot write the sound's scratch file " + name);
    }
    return name;
}

void progress(int64_t done, int64_t total) {
    if (!isatty(STDERR_FILENO)) return;
    constexpr int WIDTH = 40;
    const int filled = static_cast<int>(done * WIDTH / total);
    fprintf(stderr, "\r[%-*s] %3d%%  frame %lld of %lld", WIDTH, std::string(filled, '#').c_str(),
            static_cast<int>(done * 100 / total), static_cast<long long>(done), static_cast<long long>(total));
    if (done == total) fputc('\n', stderr);
}

bool writeAll(int fd, const void* data, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) {
            if (interrupted) return false;
            continue;
        }
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void captureVideo(const Options& o, const std::vector<uint8_t>& sound) {
    const Container* container = containerFor(o.out);
    if (!container) usage("--frames writes a .mp4, .webm or .mkv file");
    requireWritableFolder(folderOf(o.out));
    if (!onPath("ffmpeg")) fail(1, "ffmpeg not found; install it with: apt-get install ffmpeg");

    const int64_t count = static_cast<int64_t>(o.last) - o.first + 1;
    const std::string soundFile = writeSound(sound, count, o.rate);
    const std::string partial = o.out + ".part";
    char rate[32];
    snprintf(rate, sizeof rate, "%.17g", o.rate);
    const std::string soundRate = std::to_string(AUDIO_RATE), soundChannels = std::to_string(AUDIO_CHANNELS);
    std::vector<const char*> args = {"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
                                     "-f", "rawvideo", "-pix_fmt", "bgr0", "-s", "1280x720", "-framerate", rate,
                                     "-i", "pipe:0",
                                     "-f", "s16le", "-ar", soundRate.c_str(), "-ac", soundChannels.c_str(), "-i", soundFile.c_str(),
                                     "-map", "0:v", "-map", "1:a"};
    args.insert(args.end(), container->codecs.begin(), container->codecs.end());
    args.insert(args.end(), {"-f", container->format, partial.c_str(), nullptr});

    int feed[2];
    if (pipe(feed) != 0) fail(1, "cannot make a pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, feed[0], STDIN_FILENO);
    posix_spawn_file_actions_addclose(&actions, feed[1]);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setpgroup(&attr, 0);  // Ctrl-C is ours to handle, not FFmpeg's
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    pid_t ffmpeg;
    const int spawned = posix_spawnp(&ffmpeg, "ffmpeg", &actions, &attr, const_cast<char* const*>(args.data()), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(feed[0]);
    if (spawned != 0) {
        unlink(soundFile.c_str());
        fail(1, "cannot start ffmpeg (" + std::string(strerror(spawned)) + "); install it with: apt-get install ffmpeg");
    }

    SDL_Surface* picture = newPicture();
    screen = picture;
    bool fed = true;
    for (int64_t k = 0; k < count && fed && !interrupted; k++) {
        Script(static_cast<int32_t>(o.first + k));
        fed = writeAll(feed[1], picture->pixels, PICTURE_BYTES);
        progress(k + 1, count);
    }
    close(feed[1]);
    if (interrupted) kill(ffmpeg, SIGTERM);
    int status = 0;
    while (waitpid(ffmpeg, &status, 0) < 0 && errno == EINTR) {
    }
    unlink(soundFile.c_str());
    SDL_FreeSurface(picture);
    if (interrupted) {
        unlink(partial.c_str());
        fprintf(stderr, "\nvelmorante-capture: interrupted; nothing written to '%s'\n", o.out.c_str());
        exit(EXIT_INTERRUPTED);
    }
    if (!fed || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        unlink(partial.c_str());
        fail(1, "ffmpeg failed to encode '" + o.out + "'");
    }
    if (rename(partial.c_str(), o.out.c_str()) != 0) {
        unlink(partial.c_str());
        fail(1, "cannot write '" + o.out + "': " + strerror(errno));
    }
    fprintf(stderr, "wrote %s: frames %d to %d at %g a second\n", o.out.c_str(), o.first, o.last, o.rate);
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parseArguments(argc, argv);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);  // a dead FFmpeg shows as a failed write

    requireDataFiles();
    // The same loading, and so the same rand() history, as the demo's start-up.
    Init();
    switch (options.mode) {
        case Mode::frames: captureFrames(options); break;
        case Mode::video: {
            // The loop's rand() draws follow the volume's, as in the demo.
            std::vector<uint8_t> sound(NOISE_BYTES);
            noiseBuild(sound.data(), 1);
            captureVideo(options, sound);
            break;
        }
        case Mode::effect: captureEffects(options); break;
        case Mode::none: break;
    }
    return interrupted ? EXIT_INTERRUPTED : 0;
}
