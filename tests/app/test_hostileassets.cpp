// The game with hostile assets: each file of data/ replaced in turn by a
// broken one, and the game run from a copy of data/ in a child process. A
// model that cannot be loaded shows the warning box and ends with exit code
// 0; a picture that cannot be read leaves its surface white and the game
// goes on to the name prompt and ends cleanly with Esc.
#include "gameprobe.h"

#include <filewriters/bmpwriter.h>
#include <filewriters/chunkwriter.h>
#include <tempdir.h>

#include <QAbstractButton>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using filewriters::Bytes;

const char* const kPictures[6] = {"f.bmp", "l.bmp", "r.bmp", "b.bmp", "u.bmp", "sand1.bmp"};
const char* const kForms[4] = {"cut inside the header", "garbage", "huge extents", "8 bits"};

fs::path sourceData() { return fs::path(std::getenv("FLOERUSH_SOURCE_DIR")) / "data"; }

Bytes readData(const std::string& name)
{
    std::ifstream in(sourceData() / name, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Bytes garbage(const Bytes&)
{
    Bytes bytes(4096);
    uint32_t x = 12345;
    for (uint8_t& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = uint8_t(x >> 16);
    }
    return bytes;
}

Bytes cut(const Bytes& original, size_t length) { return Bytes(original.begin(), original.begin() + long(length)); }
Bytes headerCut(const Bytes& original) { return cut(original, 30); }  // inside the information header
Bytes halfCut(const Bytes& original) { return cut(original, original.size() / 2); }

// A BMP header claiming 30000 x 30000 pixels, and nothing after it.
Bytes hugeExtents(const Bytes&)
{
    filewriters::BmpImage image;
    image.width = 1;
    image.height = 1;
    Bytes bytes = filewriters::encodeBmp(image);
    filewriters::patchU32(bytes, 18, 30000);
    filewriters::patchU32(bytes, 22, 30000);
    bytes.resize(54);
    return bytes;
}

Bytes eightBit(const Bytes&)
{
    filewriters::BmpImage image;
    image.width = 4;
    image.height = 4;
    image.bitsPerPixel = 8;
    image.palette.assign(256 * 4, 0x80);
    image.pixels.assign(16, 7);
    return filewriters::encodeBmp(image);
}

// 2,000 objects, each a vertex list and a face list claiming 65,535 entries
// with no data: 58 KB that would take gigabytes without a load budget.
Bytes modelBomb(const Bytes&)
{
    filewriters::ChunkWriter w;
    w.begin(0x4D4D).begin(0x3D3D);
    for (int i = 0; i < 2000; ++i)
        w.begin(0x4000).str("").begin(0x4100).begin(0x4110).u16(0xFFFF).end().begin(0x4120).u16(0xFFFF).end().end().end();
    w.end().end();
    return w.bytes();
}

struct Case {
    const char* file;
    const char* variant;
    Bytes (*make)(const Bytes& original);
    bool modelRefused;  // the warning box, else the name prompt
};

// Runs the game from a copy of data/ with one file replaced; reports on
// standard error what it showed, then leaves as the user would.
void playWith(const Case& c)
{
    alarm(120);  // a child that waits for ever fails its case instead
    static TempDir dir;  // one per child process, removed when it exits
    const fs::path data = fs::path(dir.root()) / "data";
    std::error_code ec;
    fs::copy(sourceData(), data, fs::copy_options::recursive, ec);
    if (ec || !filewriters::writeFile((data / c.file).string(), c.make(readData(c.file))) ||
        chdir(dir.root().c_str()) != 0)
        std::_Exit(5);
    whenDialogOpens<QMessageBox>([](QMessageBox* box) {
        std::fprintf(stderr, "[warning %s]", qPrintable(box->windowTitle()));
        box->button(QMessageBox::Ok)->click();
    });
    whenDialogOpens<QInputDialog>([](QInputDialog* d) {
        std::fprintf(stderr, "[prompt]");
        d->accept();
    });
    glWidget w;
    w.show();
    if (!QTest::qWaitForWindowExposed(&w))
        std::_Exit(6);
    GameProbe probe{w};
    probe.frame();  // the display lists give the textures their pictures
    w.makeCurrent();
    std::string white;
    for (int i = 0; i < 6; ++i) {
        GLint width = -1;
        glBindTexture(GL_TEXTURE_2D, probe.picture(i).textureId);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
        if (width == 0)
            white += std::string(kPictures[i]) + " ";
    }
    std::fprintf(stderr, "[white: %s]", white.c_str());
    pressKey(&w, Qt::Key_Escape);
    std::_Exit(3);
}

class HostileAssetsDeathTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

// Every picture meets one of the broken forms, each form at least one picture
// of the sky box and the ground: which picture breaks decides which surface
// goes white, while the loader's answer to a form is the same for all six.
TEST_F(HostileAssetsDeathTest, TheGameSurvivesEveryBrokenFile)
{
    if (!std::getenv("FLOERUSH_SOURCE_DIR"))
        GTEST_SKIP() << "FLOERUSH_SOURCE_DIR (set by ctest) names the data/ to copy";
    Bytes (*const forms[4])(const Bytes&) = {headerCut, garbage, hugeExtents, eightBit};
    std::vector<Case> cases = {
        {"penguin.3ds", "garbage", garbage, true},
        {"penguin.3ds", "cut inside the root header", [](const Bytes& b) { return cut(b, 4); }, true},
        {"penguin.3ds", "58 KB of claims", modelBomb, true},
        {"penguin.3ds", "cut in half", halfCut, false}, // a cut file still loads what it holds
    };
    for (int i = 0; i < 6; ++i)
        cases.push_back({kPictures[i], kForms[(i + 2) % 4], forms[(i + 2) % 4], false});
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + ": " + c.variant);
        const bool picture = c.file != std::string("penguin.3ds");
        const std::string expected = c.modelRefused
            ? "\\[warning Application\\]"
            : "\\[prompt\\].*\\[white: " + (picture ? std::string(c.file) + " " : std::string()) + "\\]";
        EXPECT_EXIT(playWith(c), ::testing::ExitedWithCode(0), expected);
    }
}

} // namespace
