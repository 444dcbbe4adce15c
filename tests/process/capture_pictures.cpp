// velmorante-capture's pictures and video against what the library draws and
// plays in this process, from the same data and the same generator history.
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "support.h"

namespace {

const std::string CAPTURE = VELMORANTE_CAPTURE;
const std::string DATA = VELMORANTE_DATA;

// The demo's start-up, as the capture tool does it: from data/, the generator fresh.
class Capture : public ::testing::Test {
protected:
    static void SetUpTestSuite() { initFromData(); }
    ScratchDir out;
    TestSurface picture;
    void SetUp() override { screen = picture.surface; }

    int run(const std::string& args) {
        // Its messages go to the scratch folder, not into data/.
        const std::string command = "cd '" + DATA + "' && '" + CAPTURE + "' " + args + " >/dev/null 2>'" +
                                    (out.path() / "capture.err").string() + "'";
        return system(command.c_str());
    }
};

std::vector<uint8_t> slurp(const std::string& command) {
    std::vector<uint8_t> bytes;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return bytes;
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    pclose(p);
    return bytes;
}

// A PNG as 0x00RRGGBB words, through libpng.
std::vector<uint32_t> readPng(const std::string& path, int& w, int& h) {
    std::vector<uint32_t> words;
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return words;
    image.format = PNG_FORMAT_BGRA;
    std::vector<uint8_t> bytes(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, bytes.data(), 0, nullptr)) return words;
    w = static_cast<int>(image.width);
    h = static_cast<int>(image.height);
    for (size_t k = 0; k + 3 < bytes.size(); k += 4)
        words.push_back(bytes[k] | bytes[k + 1] << 8 | bytes[k + 2] << 16);  // alpha dropped
    return words;
}

TEST_F(Capture, AFrameIsWhatScriptDrawsForThatNumber) {
    const int32_t numbers[] = {1, 2000, 46341, -5};
    ASSERT_EQ(run("--frame 1 --frame 2000 --frame 46341 --frame -5 --out '" + out.path().string() + "'"), 0);
    for (int32_t n : numbers) {
        Script(n);
        int w = 0, h = 0;
        const auto png = readPng((out.path() / ("frame-" + std::to_string(n) + ".png")).string(), w, h);
        ASSERT_EQ(w, SCREEN_W) << n;
        ASSERT_EQ(h, SCREEN_H) << n;
        EXPECT_EQ(png, picture.picture()) << "frame " << n;
    }
}

TEST_F(Capture, ALosslessVideoDecodesToTheFramesAndTheLoopedSoundtrack) {
    // Three frames at a quarter of a frame a second: 12 s, a little more than
    // one pass of the 11.89 s loop, so the sound must come round again.
    const std::string video = (out.path() / "short.mkv").string();
    ASSERT_EQ(run("--frames 7:9 --rate 0.25 --out '" + video + "'"), 0);
    ASSERT_FALSE(std::filesystem::exists(video + ".part"));

    const auto pixels = slurp("ffmpeg -v error -i '" + video + "' -map 0:v -fps_mode passthrough -f rawvideo -pix_fmt bgr0 -");
    ASSERT_EQ(pixels.size(), 3u * SCREEN_W * SCREEN_H * 4);
    for (int k = 0; k < 3; k++) {
        Script(7 + k);
        const std::vector<uint32_t> expected = picture.picture();
        ASSERT_EQ(memcmp(pixels.data() + static_cast<size_t>(k) * expected.size() * 4, expected.data(),
                         expected.size() * 4), 0)
            << "frame " << 7 + k;
    }

    std::vector<uint8_t> loop(NOISE_BYTES);
    noiseBuild(loop.data(), 1);  // the draws after the volume's, as in the demo
    const auto sound = slurp("ffmpeg -v error -i '" + video + "' -map 0:a -f s16le -");
    const size_t expectedBytes = 12 * AUDIO_RATE * AUDIO_CHANNELS * sizeof(int16_t);
    ASSERT_EQ(sound.size(), expectedBytes);
    for (size_t k = 0; k < expectedBytes; k++)
        ASSERT_EQ(sound[k], loop[k % NOISE_BYTES]) << "sound byte " << k;
}

TEST_F(Capture, EffectsAreDrawnInOrderAndWrittenAsTheyAreDrawn) {
    const std::string png = (out.path() / "roto.png").string();
    ASSERT_EQ(run("--effect rotozoomer:30:0.75 --effect text:Hello --out '" + png + "'"), 0);
    rotozoomer(picture.surface, 30.0f, 0.75f);
    Print((SCREEN_W - 5 * 16) / 2, (SCREEN_H - 16) / 2, "Hello", 5);
    int w = 0, h = 0;
    const std::vector<uint32_t> layered = picture.picture();
    EXPECT_EQ(readPng(png, w, h), layered);
    rotozoomer(picture.surface, 30.0f, 0.75f);
    EXPECT_NE(picture.picture(), layered);  // the text is there

    ASSERT_EQ(run("--effect plasma --out '" + png + "'"), 0);
    plasma(picture.surface);
    EXPECT_EQ(readPng(png, w, h), picture.picture());
}

}  // namespace
