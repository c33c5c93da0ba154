// What OpenGL ends up holding and drawing from the scene: the textures, the
// display lists replayed in feedback mode.
#include "recordedlists.h"

#include "filewriters/bmpwriter.h"
#include "landscape.h"
#include "skybox.h"
#include "tempdir.h"

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>

#include <GL/glu.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

// Mesa's software driver keeps a buffer of its feedback path (about 1 MB)
// past the context's end. That is Mesa's, not ours: only leaks whose stacks
// go through the driver module are suppressed.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:swrast_dri.so\n";
}

namespace {

// A current context on an offscreen surface. The tests read back texture
// images and feedback, never pixels. Needs a display (Xvfb in the test runs).
class GlContext {
public:
    GlContext()
    {
        QSurfaceFormat format;
        format.setProfile(QSurfaceFormat::CompatibilityProfile);
        m_surface.setFormat(format);
        m_surface.create();
        m_context.setFormat(format);
        ok = m_surface.isValid() && m_context.create() && m_context.makeCurrent(&m_surface);
    }

    bool ok = false;

private:
    // One application object for the program, made before the first surface
    // and never destroyed, so that Mesa's driver stays until the leak check.
    static bool startQt()
    {
        static int argc = 1;
        static char name[] = "scene-tests", *argv[] = {name, nullptr};
        static const QGuiApplication* const app = new QGuiApplication(argc, argv);
        return app;
    }

    bool m_qt = startQt();
    QOffscreenSurface m_surface;
    QOpenGLContext m_context;
};

using Rgb = std::array<uint8_t, 3>;

// Top and bottom, left and right all differ.
Rgb pattern(int x, int y)
{
    return {uint8_t(x), uint8_t(3 * y + 1), uint8_t(x ^ y)};
}

// A width x height BMP file of the pattern, y = 0 the top row: 24 bits a
// pixel, or 8 with the pattern's red as the palette index.
bool writePicture(const std::string& path, int width, int height, int bits = 24)
{
    filewriters::BmpImage img;
    img.width = width, img.height = height, img.bitsPerPixel = uint16_t(bits);
    img.palette.assign(bits == 8 ? 256 * 4 : 0, 200);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Rgb c = pattern(x, y);
            const uint8_t bgr[3] = {c[2], c[1], c[0]};
            img.pixels.insert(img.pixels.end(), bits == 8 ? bgr + 2 : bgr, bgr + 3);
        }
    return filewriters::writeFile(path, filewriters::encodeBmp(img));
}

// Of the bound texture's level 0, or of the context.
GLint integer(GLenum what, bool level0 = false)
{
    GLint v = -1;
    level0 ? glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, what, &v) : glGetIntegerv(what, &v);
    return v;
}

struct FeedbackVertex {
    float x, y, z; // in window units, kWindowUnits a table unit on every axis
    float r, g, b, s, t;
};
using FeedbackPolygon = std::vector<FeedbackVertex>;
constexpr double kWindowUnits = 4096 / 6000.0;

// Calls `list` once in feedback mode, under an oblique orthographic view that
// keeps the whole scenery unclipped and no polygon edge-on, grey current so
// that the list's own colours show. Float transforms of coordinates near
// 617000 put positions within about 0.07 table units. Empty when the buffer
// overflowed or anything but polygons came back.
std::vector<FeedbackPolygon> recordFeedback(unsigned int list)
{
    std::vector<GLfloat> buffer(4'000'000);
    glFeedbackBuffer(GLsizei(buffer.size()), GL_3D_COLOR_TEXTURE, buffer.data());
    glViewport(0, 0, 4096, 4096);
    glRenderMode(GL_FEEDBACK);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-3000, 3000, -3000, 3000, -3000, 3000);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(617001, 4001, 91701.5, 617000, 4000, 91700, 0, 1, 0);
    glColor3f(0.5f, 0.5f, 0.5f);
    glCallList(list);
    const GLint count = glRenderMode(GL_RENDER);
    std::vector<FeedbackPolygon> polygons;
    constexpr int kFloats = 3 + 4 + 4; // window position, colour, texture coordinate
    for (GLint i = 0; i < count; i += 2 + int(buffer[size_t(i) + 1]) * kFloats) {
        if (GLint(buffer[size_t(i)]) != GL_POLYGON_TOKEN)
            return {};
        polygons.emplace_back();
        for (int k = 0; k < int(buffer[size_t(i) + 1]); ++k) {
            const GLfloat* v = &buffer[size_t(i) + 2 + size_t(k) * kFloats];
            polygons.back().push_back({v[0], v[1], v[2] * 4096, v[3], v[4], v[5], v[7], v[8]});
        }
    }
    return polygons;
}

// Whether the last polygons of a are those of b, vertex for vertex: positions
// within `tolerance` table units, colours and texture coordinates equal.
bool endsWith(const std::vector<FeedbackPolygon>& a, const std::vector<FeedbackPolygon>& b, double tolerance)
{
    const auto same = [&](const FeedbackVertex& u, const FeedbackVertex& v) {
        return std::max({std::fabs(u.x - v.x), std::fabs(u.y - v.y), std::fabs(u.z - v.z)}) < tolerance * kWindowUnits
            && u.r == v.r && u.g == v.g && u.b == v.b && u.s == v.s && u.t == v.t;
    };
    return a.size() >= b.size() && std::equal(b.begin(), b.end(), a.end() - long(b.size()), [&](auto& p, auto& q) {
        return std::equal(p.begin(), p.end(), q.begin(), q.end(), same);
    });
}

// Under an unpack alignment of 8 and another texture bound, which create
// leaves as they were.
TEST(Texture, CreateFillsTheObjectFromCompleteThreeChannelPicturesOnly)
{
    GlContext context;
    ASSERT_TRUE(context.ok);
    TempDir dir;
    const struct {
        const char* picture;
        int width, height, bits, claimedHeight; // bits 0: no file; claimedHeight 0: as loaded
        bool usable;
    } cases[] = {
        {"256 x 256, top row at t = 0", 256, 256, 24, 0, true},
        {"3 x 5: rows of 9 bytes, handed over packed", 3, 5, 24, 0, true},
        {"missing", 0, 0, 0, 0, false},
        {"palette indices, one channel", 8, 8, 8, 0, false},
        {"more rows claimed than the buffer holds", 4, 4, 24, 400, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.picture);
        const std::string path = dir.path(std::string(c.picture) + ".bmp");
        ASSERT_TRUE(!c.bits || writePicture(path, c.width, c.height, c.bits));
        Texture texture, other;
        texture.image.load(path.c_str());
        texture.image.m_dim[1] = c.claimedHeight ? c.claimedHeight : texture.image.m_dim[1];
        other.create();
        glBindTexture(GL_TEXTURE_2D, other.textureId);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
        texture.create();
        EXPECT_TRUE(GLuint(integer(GL_TEXTURE_BINDING_2D)) == other.textureId && integer(GL_UNPACK_ALIGNMENT) == 8
            && texture.textureId != other.textureId);
        glBindTexture(GL_TEXTURE_2D, texture.textureId);
        const int width = c.usable ? c.width : 0, height = c.usable ? c.height : 0;
        ASSERT_TRUE(integer(GL_TEXTURE_WIDTH, true) == width && integer(GL_TEXTURE_HEIGHT, true) == height);
        std::vector<uint8_t> texels(size_t(width) * height * 3);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_BGR_EXT, GL_UNSIGNED_BYTE, texels.data());
        int wrong = 0;
        for (size_t i = 0; i < texels.size(); ++i)
            wrong += texels[i] != pattern(int(i / 3) % width, int(i / 3) / width)[2 - i % 3];
        EXPECT_EQ(wrong, 0);
    }
}

// The course markers as laid down: the white finish gate on its one foot,
// across the finish line, then 18 red slalom gates along the sine path, each
// flag standing on the terrain at its own northing; all with the last terrain
// texel, (4, 4).
unsigned int referenceMarkers()
{
    const unsigned int list = glGenLists(1);
    glNewList(list, GL_COMPILE);
    glTexCoord2f(4, 4);
    // A quad in the plane of easting e over the foot (e, h, n).
    auto quad = [](double e, double h, double n, double y0, double z0, double y1, double z1) {
        glBegin(GL_QUADS);
        for (auto [y, z] : {std::pair{y0, z0}, {y0, z1}, {y1, z1}, {y1, z0}})
            glVertex3d(e, h + y, n + z);
        glEnd();
    };
    glColor3f(1, 1, 1);
    for (auto [y0, z0, y1, z1] : {std::array<double, 4>{0, 0, 20, 0.5}, {18, 0.5, 20, 20.5}, {0, 20.5, 20, 21}})
        quad(617800, 3507.79, 91675, y0, z0, y1, z1);
    glColor3f(1, 0, 0);
    for (int k = 0; k < 18; ++k)
        for (double side : {0.0, 30.0}) {
            const double e = 617050 + 40 * k, n = float(50 * std::sin(40 * k / 150.0) + 91685 + side);
            const double h = Landscape::heightAt(float(e), float(n));
            quad(e, h, n, 0, 0, 8, 0.5);
            quad(e, h, n, 4, 0.5, 8, 5.5);
        }
    glEndList();
    return list;
}

// The sky box and the landscape fill their textures while they build their
// lists, and their lists only bind them, the last drawn staying bound: an
// image put in afterwards survives the calls. A missing picture leaves its
// texture empty (its surface then shows the current colour), the others
// filled. The lists record the geometry, colours and texture coordinates of
// the lists first recorded, vertex for vertex, ending with the markers; red
// stays current.
TEST(Lists, BindTexturesFilledOnceAndRecordTheScenery)
{
    GlContext context;
    ASSERT_TRUE(context.ok);
    const char* const names[6] = {"f", "l", "r", "b", "u", "sand1"};
    for (const std::array<bool, 6>& missing : {std::array<bool, 6>{}, {false, false, false, false, true, true}}) {
        SCOPED_TRACE(missing[4] ? "no roof and no ground picture" : "every picture there");
        TempDir dir;
        std::filesystem::create_directory(dir.path("data"));
        for (int i = 0; i < 6; ++i)
            ASSERT_TRUE(missing[i] || writePicture(dir.path("data/" + std::string(names[i]) + ".bmp"), 8, 8));
        const std::filesystem::path previous = std::filesystem::current_path();
        std::filesystem::current_path(dir.root());
        SkyBox sky;
        Landscape ground;
        std::filesystem::current_path(previous);
        glBindTexture(GL_TEXTURE_2D, 0);
        const unsigned int box = sky.buildList(), terrain = ground.buildList();
        EXPECT_EQ(integer(GL_TEXTURE_BINDING_2D), 0);
        const Texture* const textures[6] = {
            &sky.faces[0], &sky.faces[1], &sky.faces[2], &sky.faces[3], &sky.faces[4], ground.sand};
        for (int i = 0; i < 6; ++i) {
            glBindTexture(GL_TEXTURE_2D, textures[i]->textureId);
            EXPECT_EQ(integer(GL_TEXTURE_WIDTH, true), missing[i] ? 0 : 8) << names[i];
        }
        const auto boxFirst = recordFeedback(recordedSkyList(sky)), boxToday = recordFeedback(box);
        const auto terrainFirst = recordFeedback(recordedLandscapeList(ground)), terrainToday = recordFeedback(terrain);
        GLfloat colour[4];
        glGetFloatv(GL_CURRENT_COLOR, colour);
        EXPECT_TRUE(colour[0] == 1 && colour[1] == 0 && colour[2] == 0);
        EXPECT_TRUE(boxToday.size() >= 5 && boxToday.size() == boxFirst.size() && endsWith(boxToday, boxFirst, 1e-9));
        EXPECT_TRUE(terrainToday.size() == terrainFirst.size() && endsWith(terrainToday, terrainFirst, 1e-9));
        const std::vector<FeedbackPolygon> markers = recordFeedback(referenceMarkers());
        EXPECT_TRUE(markers.size() >= 75 && endsWith(terrainToday, markers, 0.2)) << "the markers";
        const uint8_t texel[4] = {9, 9, 9, 9};
        for (const Texture* texture : textures) {
            glBindTexture(GL_TEXTURE_2D, texture->textureId);
            glTexImage2D(GL_TEXTURE_2D, 0, 3, 1, 1, 0, GL_BGR_EXT, GL_UNSIGNED_BYTE, texel);
        }
        for (auto [list, last] : {std::pair{box, sky.faces[4].textureId}, {terrain, ground.sand->textureId}}) {
            glBindTexture(GL_TEXTURE_2D, 0);
            glCallList(list);
            glCallList(list);
            EXPECT_EQ(GLuint(integer(GL_TEXTURE_BINDING_2D)), last);
        }
        for (int i = 0; i < 6; ++i) {
            glBindTexture(GL_TEXTURE_2D, textures[i]->textureId);
            EXPECT_EQ(integer(GL_TEXTURE_WIDTH, true), 1) << names[i] << ": a list specified an image";
        }
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }
}

} // namespace
