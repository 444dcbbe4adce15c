#include "support.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "Output.h"

ScratchDir::ScratchDir() {
    char name[] = "/tmp/velmorante-test-XXXXXX";
    const char* made = mkdtemp(name);
    EXPECT_NE(made, nullptr);
    dir_ = made ? made : "/tmp";
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
}

ScratchDir::~ScratchDir() {
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

void initFromData() {
    const std::filesystem::path here = std::filesystem::current_path();
    std::filesystem::current_path(VELMORANTE_DATA);
    demoSrand(1);
    Init();
    std::filesystem::current_path(here);
}

void writeFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    FILE* f = fopen(name.c_str(), "wb");
    ASSERT_NE(f, nullptr) << name;
    if (!bytes.empty()) {
        ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    }
    fclose(f);
}

std::vector<uint8_t> fliHeader(uint32_t size, uint16_t frameCount, uint16_t height) {
    std::vector<uint8_t> h(FLI_HEADER_BYTES, 0);
    putU32(&h[FLI_SIZE_AT], size);
    putU16(&h[FLI_MAGIC_AT], FLI_MAGIC);
    putU16(&h[FLI_FRAMES_AT], frameCount);
    putU16(&h[FLI_WIDTH_AT], FLI_W);
    putU16(&h[FLI_HEIGHT_AT], height);
    putU16(&h[FLI_DEPTH_AT], 8);
    putU16(&h[FLI_SPEED_AT], 5);
    return h;
}

namespace {

// Points a file descriptor at a fresh temporary file until finish(). The file
// has a name while it is in use: Emscripten's dup2 opens the file again by its
// name, which tmpfile()'s nameless file has not. The name holds the descriptor:
// there mkstemp's random part can come out the same twice in a row.
class Redirect {
public:
    explicit Redirect(int fd) : fd_(fd), saved_(dup(fd)), file_(nullptr) {
        std::string pattern = "/tmp/velmorante-output-" + std::to_string(fd) + "-XXXXXX";
        char* name = pattern.data();
        const int made = mkstemp(name);
        if (made >= 0) {
            name_ = name;
            file_ = fdopen(made, "w+");
        }
        EXPECT_GE(saved_, 0) << "dup " << fd;
        EXPECT_NE(file_, nullptr) << "temporary file";
        if (saved_ >= 0 && file_) dup2(fileno(file_), fd_);
    }
    Redirect(const Redirect&) = delete;
    Redirect& operator=(const Redirect&) = delete;

    // Puts the descriptor back and returns what was written to it.
    std::string finish() {
        std::string text;
        if (saved_ >= 0) {
            dup2(saved_, fd_);
            close(saved_);
        }
        if (file_) {
            rewind(file_);
            char chunk[4096];
            for (size_t n; (n = fread(chunk, 1, sizeof chunk, file_)) > 0;) text.append(chunk, n);
            fclose(file_);
        }
        if (!name_.empty()) unlink(name_.c_str());
        return text;
    }

private:
    int fd_, saved_;
    FILE* file_;
    std::string name_;
};

}  // namespace

Output captureOutput(const std::function<void()>& body) {
    fflush(nullptr);
    Redirect out(STDOUT_FILENO), err(STDERR_FILENO);
    body();
    writeLines();  // the program's lines still waiting, as a report or the end of a walk writes them
    fflush(nullptr);
    Output o;
    o.out = out.finish();
    o.err = err.finish();
    return o;
}
