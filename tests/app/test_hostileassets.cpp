// The game with hostile assets: files of data/ replaced by broken ones or
// removed, the game run from that copy of data/ in a child process. A model
// that cannot be loaded shows the warning box and ends with exit code 0; a picture that
// cannot be read leaves its surface white, and the game goes on to the name
// prompt and ends cleanly with Esc.
#include "gameprobe.h"

#include <filewriters/bytes.h>
#include <filewriters/chunkwriter.h>
#include <tempdir.h>

#include <QAbstractButton>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using filewriters::Bytes;

const char* const kPictures[6] = {"f.bmp", "l.bmp", "r.bmp", "b.bmp", "u.bmp", "sand1.bmp"};

Bytes garbage(const Bytes&)
{
    std::minstd_rand random(12345);
    Bytes bytes(4096);
    std::generate(bytes.begin(), bytes.end(), [&] { return uint8_t(random() >> 8); });
    return bytes;
}

// The picture with its header claiming side x side pixels (0: as it was) of
// another depth.
Bytes claiming(Bytes bytes, uint32_t side, uint16_t bits)
{
    if (side)
        filewriters::patchU32(bytes, 18, side), filewriters::patchU32(bytes, 22, side);
    bytes[28] = uint8_t(bits), bytes[29] = 0;
    return bytes;
}

// 2,000 objects, each a vertex list and a face list claiming 65,535 entries
// with no data: 58 KB that would take gigabytes without a load budget.
Bytes modelBomb(const Bytes&)
{
    filewriters::ChunkWriter w;
    w.begin(0x4D4D).begin(0x3D3D);
    for (int i = 0; i < 2000; ++i)
        w.begin(0x4000).str("").begin(0x4100).begin(0x4110).u16(0xFFFF).end().begin(0x4120).u16(0xFFFF).end().end().end();
    return w.end().end().bytes();
}

struct Case {
    const char* file;
    const char* variant;
    Bytes (*make)(const Bytes& original); // null: the file is removed
    const char* shown; // what the game showed, as a pattern
};

// Runs the game from a copy of data/ with one file replaced; reports on
// standard error what it showed, then leaves as the user would.
void playWith(const Case& c)
{
    alarm(120);  // a child that waits for ever fails its case instead
    static TempDir dir; // one per child process, removed when it exits
    const fs::path source = fs::path(std::getenv("FLOERUSH_SOURCE_DIR")) / "data", data = fs::path(dir.root()) / "data";
    std::ifstream in(source / c.file, std::ios::binary);
    const Bytes original((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::error_code ec;
    fs::copy(source, data, fs::copy_options::recursive, ec);
    const bool replaced = c.make ? filewriters::writeFile((data / c.file).string(), c.make(original))
                                 : fs::remove(data / c.file, ec);
    if (ec || !replaced || chdir(dir.root().c_str()) != 0)
        std::_Exit(5);
    whenDialogOpens<QMessageBox>([](QMessageBox* box) {
        std::fprintf(stderr, "[warning %s: %s buttons=%d]", qPrintable(box->windowTitle()),
                     qPrintable(box->text().replace("\n", "<br>")), int(box->standardButtons()));
        box->button(QMessageBox::Ok)->click();
    });
    whenDialogOpens<QInputDialog>([](QInputDialog* d) { std::fprintf(stderr, "[prompt]"), d->accept(); });
    glWidget w;
    w.show();
    if (!QTest::qWaitForWindowExposed(&w))
        std::_Exit(6);
    GameProbe probe{w};
    probe.frame(); // the display lists give the textures their pictures
    std::string white;
    for (int i = 0; i < 6; ++i) {
        GLint width = -1;
        glBindTexture(GL_TEXTURE_2D, probe.picture(i).textureId);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
        white += width == 0 ? std::string(kPictures[i]) + " " : "";
    }
    std::fprintf(stderr, "[white: %s]", white.c_str());
    pressKey(&w, Qt::Key_Escape);
    std::_Exit(3);
}

class HostileAssetsDeathTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

// Every picture meets one of the broken forms, each form at least one face
// of the sky box: which picture breaks decides which surface goes white,
// while the loader's answer to a form is the same for all six.
TEST_F(HostileAssetsDeathTest, TheGameSurvivesEveryBrokenFile)
{
    if (!std::getenv("FLOERUSH_SOURCE_DIR"))
        GTEST_SKIP() << "FLOERUSH_SOURCE_DIR (set by ctest) names the data/ to copy";
    const Case forms[4] = {
        {"", "cut inside the header", [](const Bytes& b) { return Bytes(b.begin(), b.begin() + 30); }, ""},
        {"", "garbage", garbage, ""},
        {"", "30000 x 30000 claimed", [](const Bytes& b) { return claiming(b, 30000, 24); }, ""},
        {"", "8 bits", [](const Bytes& b) { return claiming(b, 0, 8); }, ""},
    };
    const char* const warning = "\\[warning Application: Unable to load file <br>: \\./data/penguin\\.3ds\\. buttons=1024\\]";
    std::vector<Case> cases = {
        {"penguin.3ds", "missing", nullptr, warning},
        {"penguin.3ds", "garbage", garbage, warning},
        {"penguin.3ds", "58 KB of claims", modelBomb, warning},
        // A cut file still loads what it holds.
        {"penguin.3ds", "cut in half", [](const Bytes& b) { return Bytes(b.begin(), b.begin() + long(b.size() / 2)); },
         "\\[prompt\\].*\\[white: \\]"},
    };
    for (int i = 0; i < 6; ++i)
        cases.push_back({kPictures[i], forms[(i + 2) % 4].variant, forms[(i + 2) % 4].make, ""});
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + ": " + c.variant);
        const std::string white = "\\[prompt\\].*\\[white: " + std::string(c.file) + " \\]";
        EXPECT_EXIT(playWith(c), ::testing::ExitedWithCode(0), *c.shown ? c.shown : white.c_str());
    }
}

} // namespace
