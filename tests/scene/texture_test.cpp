// Texture::create and the display lists that bind what it made: what OpenGL
// ends up holding.
#include "glcontext.h"
#include "pictures.h"

#include "landscape.h"
#include "skybox.h"
#include "tempdir.h"
#include "texture.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <vector>

namespace {

class TextureTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(context.ok()); }

    // Fills the texture, records a list that binds it, calls the list, and
    // leaves the texture bound.
    GLuint replay(Texture& texture, int calls = 1)
    {
        texture.create();
        const GLuint list = glGenLists(1);
        glNewList(list, GL_COMPILE);
        texture.bind();
        glEndList();
        for (int i = 0; i < calls; ++i)
            glCallList(list);
        glDeleteLists(list, 1);
        glBindTexture(GL_TEXTURE_2D, texture.textureId);
        return texture.textureId;
    }

    static GLint level0(GLenum what)
    {
        GLint v = -1;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, what, &v);
        return v;
    }

    // The texture's texels as bytes in the order blue, green, red, rows packed.
    static std::vector<uint8_t> texels(int width, int height)
    {
        std::vector<uint8_t> out(size_t(width) * height * 3);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_BGR_EXT, GL_UNSIGNED_BYTE, out.data());
        return out;
    }

    // Draws a square over the whole viewport with the bound texture and
    // texture coordinates from (0, 0) to (s1, t1); returns the picture.
    QImage drawSquare(float r, float g, float b, float s1 = 1, float t1 = 1)
    {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glEnable(GL_TEXTURE_2D);
        glColor3f(r, g, b);
        glBegin(GL_QUADS);
        glTexCoord2f(0, t1), glVertex2f(-1, -1);
        glTexCoord2f(s1, t1), glVertex2f(1, -1);
        glTexCoord2f(s1, 0), glVertex2f(1, 1);
        glTexCoord2f(0, 0), glVertex2f(-1, 1);
        glEnd();
        glDisable(GL_TEXTURE_2D);
        glFinish();
        return context.grab();
    }

    GlContext context;
    TempDir dir;
};

TEST_F(TextureTest, PictureBecomesATextureOfItsSizeWithItsTopRowAtTZero)
{
    auto colour = [](int x, int y) { return Rgb{uint8_t(x), uint8_t(y), uint8_t(y == 0 ? 255 : 7)}; };
    ASSERT_TRUE(writePicture(dir.path("p.bmp"), 256, 256, colour));
    Texture texture;
    ASSERT_EQ(texture.image.load(dir.path("p.bmp").c_str()), 1);
    const GLuint name = replay(texture);
    EXPECT_NE(name, 0u);
    EXPECT_TRUE(glIsTexture(name));
    ASSERT_EQ(level0(GL_TEXTURE_WIDTH), 256);
    ASSERT_EQ(level0(GL_TEXTURE_HEIGHT), 256);
    const std::vector<uint8_t> t = texels(256, 256);
    for (int y : {0, 1, 255})
        for (int x : {0, 100, 255}) {
            const uint8_t* p = &t[(size_t(y) * 256 + x) * 3];
            const Rgb want = colour(x, y);
            EXPECT_EQ(p[2], want[0]) << x << "," << y;
            EXPECT_EQ(p[1], want[1]) << x << "," << y;
            EXPECT_EQ(p[0], want[2]) << x << "," << y;
        }
    GLint filter = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &filter);
    EXPECT_EQ(filter, GL_LINEAR);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &filter);
    EXPECT_EQ(filter, GL_LINEAR);
}

// An image put into a texture object after the list was built survives every
// call of the list: the list binds, it does not specify the picture again.
TEST_F(TextureTest, CreateFillsTheTextureAtOnceAndTheListOnlyBindsIt)
{
    ASSERT_TRUE(writePicture(dir.path("p.bmp"), 4, 4, [](int, int) { return Rgb{1, 2, 3}; }));
    Texture texture, other;
    texture.image.load(dir.path("p.bmp").c_str());
    other.create();
    glBindTexture(GL_TEXTURE_2D, other.textureId);
    texture.create();
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(GLuint(bound), other.textureId) << "create leaves the binding as it found it";
    const GLuint name = texture.textureId;
    ASSERT_NE(name, 0u);
    glBindTexture(GL_TEXTURE_2D, name);
    EXPECT_EQ(level0(GL_TEXTURE_WIDTH), 4);

    const GLuint list = glGenLists(1);
    glNewList(list, GL_COMPILE);
    texture.bind();
    glEndList();
    const uint8_t texel[4] = {9, 9, 9, 9};
    glTexImage2D(GL_TEXTURE_2D, 0, 3, 1, 1, 0, GL_BGR_EXT, GL_UNSIGNED_BYTE, texel);
    glBindTexture(GL_TEXTURE_2D, 0);
    glCallList(list);
    glCallList(list);
    EXPECT_EQ(texture.textureId, name);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(GLuint(bound), name);
    EXPECT_EQ(level0(GL_TEXTURE_WIDTH), 1);
    glDeleteLists(list, 1);
}

// The sky box and the landscape fill their textures while they build their
// lists, names in drawing order, and the lists only bind them.
TEST_F(TextureTest, OwnersFillTheirTexturesOnceAndTheirListsOnlyBindThem)
{
    std::filesystem::create_directory(dir.path("data"));
    for (const char* name : {"f", "l", "r", "b", "u", "sand1"})
        ASSERT_TRUE(writePicture(dir.path(std::string("data/") + name + ".bmp"), 8, 8, [](int, int) { return Rgb{5, 6, 7}; }))
            << name;
    WorkingDirectory into(dir.root());
    SkyBox sky;
    Landscape ground;
    const struct {
        const char* owner;
        std::function<unsigned int()> build;
        std::vector<const Texture*> drawingOrder;
    } owners[] = {
        {"sky box", [&] { return sky.buildList(); },
         {&sky.faces[0], &sky.faces[2], &sky.faces[1], &sky.faces[3], &sky.faces[4]}},
        {"landscape", [&] { return ground.buildList(); }, {ground.sand}},
    };
    const uint8_t texel[4] = {9, 9, 9, 9};
    for (const auto& o : owners) {
        SCOPED_TRACE(o.owner);
        glBindTexture(GL_TEXTURE_2D, 0);
        const unsigned int list = o.build();
        GLint bound = -1;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        EXPECT_EQ(bound, 0);
        GLuint previous = 0;
        for (const Texture* t : o.drawingOrder) {
            EXPECT_GT(t->textureId, previous);
            previous = t->textureId;
            glBindTexture(GL_TEXTURE_2D, t->textureId);
            EXPECT_EQ(level0(GL_TEXTURE_WIDTH), 8) << "filled before the list ever ran";
            glTexImage2D(GL_TEXTURE_2D, 0, 3, 1, 1, 0, GL_BGR_EXT, GL_UNSIGNED_BYTE, texel);
        }
        glBindTexture(GL_TEXTURE_2D, 0);
        glCallList(list);
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        EXPECT_EQ(GLuint(bound), o.drawingOrder.back()->textureId);
        for (const Texture* t : o.drawingOrder) {
            glBindTexture(GL_TEXTURE_2D, t->textureId);
            EXPECT_EQ(level0(GL_TEXTURE_WIDTH), 1) << "the list specified no image";
        }
        glDeleteLists(list, 1);
    }
}

TEST_F(TextureTest, MissingPictureGivesAnEmptyTextureThatShowsTheCurrentColour)
{
    Texture texture;
    EXPECT_EQ(texture.image.load(dir.path("absent.bmp").c_str()), -1);
    replay(texture);
    EXPECT_EQ(level0(GL_TEXTURE_WIDTH), 0);
    EXPECT_EQ(level0(GL_TEXTURE_HEIGHT), 0);
    const QImage picture = drawSquare(0.2f, 0.6f, 1.0f);
    const QColor c = picture.pixelColor(32, 32);
    EXPECT_NEAR(c.red(), 51, 2);
    EXPECT_NEAR(c.green(), 153, 2);
    EXPECT_NEAR(c.blue(), 255, 2);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// A palette picture loads as one channel of indices; OpenGL would read three
// bytes a pixel from it, so it is treated like a missing picture.
TEST_F(TextureTest, PictureThatIsNotThreeChannelsNeverReachesOpenGL)
{
    filewriters::BmpImage img;
    img.width = 8;
    img.height = 8;
    img.bitsPerPixel = 8;
    img.pixels.assign(64, 1);
    img.palette.assign(256 * 4, 200);
    ASSERT_TRUE(filewriters::writeFile(dir.path("p8.bmp"), filewriters::encodeBmp(img)));
    Texture texture;
    ASSERT_EQ(texture.image.load(dir.path("p8.bmp").c_str()), 1);
    ASSERT_EQ(texture.image.m_channels, 1);
    replay(texture);
    EXPECT_EQ(level0(GL_TEXTURE_WIDTH), 0);

    img.bitsPerPixel = 32;
    img.pixels.assign(8 * 8 * 4, 90);
    img.palette.clear();
    ASSERT_TRUE(filewriters::writeFile(dir.path("p32.bmp"), filewriters::encodeBmp(img)));
    Texture wide;
    ASSERT_EQ(wide.image.load(dir.path("p32.bmp").c_str()), 1);
    replay(wide);
    EXPECT_EQ(level0(GL_TEXTURE_WIDTH), 0);
}

// Rows of 3 pixels are 9 bytes, not a multiple of 4: they must be handed over
// packed, and the caller's unpack alignment must survive.
TEST_F(TextureTest, RowsOfOddWidthArriveUnskewed)
{
    auto colour = [](int x, int y) { return Rgb{uint8_t(10 * x + 1), uint8_t(20 * y + 2), uint8_t(x + y + 3)}; };
    ASSERT_TRUE(writePicture(dir.path("odd.bmp"), 3, 5, colour));
    Texture texture;
    ASSERT_EQ(texture.image.load(dir.path("odd.bmp").c_str()), 1);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    replay(texture);
    GLint alignment = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    EXPECT_EQ(alignment, 8);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    ASSERT_EQ(level0(GL_TEXTURE_WIDTH), 3);
    ASSERT_EQ(level0(GL_TEXTURE_HEIGHT), 5);
    const std::vector<uint8_t> t = texels(3, 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 3; ++x) {
            const Rgb want = colour(x, y);
            const uint8_t* p = &t[(size_t(y) * 3 + x) * 3];
            EXPECT_EQ(p[2], want[0]) << x << "," << y;
            EXPECT_EQ(p[1], want[1]) << x << "," << y;
            EXPECT_EQ(p[0], want[2]) << x << "," << y;
        }
}

TEST_F(TextureTest, CoordinatesAboveOneRepeatThePicture)
{
    // Left half red, right half blue.
    ASSERT_TRUE(writePicture(dir.path("halves.bmp"), 4, 4, [](int x, int) { return x < 2 ? Rgb{255, 0, 0} : Rgb{0, 0, 255}; }));
    Texture texture;
    texture.image.load(dir.path("halves.bmp").c_str());
    replay(texture);
    const QImage picture = drawSquare(1, 1, 1, 2, 1);
    // s runs 0..2 over 64 pixels: red, blue, red, blue quarters.
    for (int q = 0; q < 4; ++q) {
        const QColor c = picture.pixelColor(8 + 16 * q, 32);
        EXPECT_GT(q % 2 ? c.blue() : c.red(), 200) << "quarter " << q;
        EXPECT_LT(q % 2 ? c.red() : c.blue(), 60) << "quarter " << q;
    }
}

} // namespace
