// The committed pictures in data/, read with the project's own loader, are
// what the game's textures need.
#include <imagebase>

#include <gtest/gtest.h>

#include <string>

namespace {

// 24-bit pictures with power-of-two sides: the sky's square, 256 to 512 wide,
// the sand 256 x 256 (the course markers sample its corner texel).
TEST(Pictures, AreSquareTexturesOfThreeChannels)
{
    for (const std::string name : {"f", "l", "r", "b", "u", "sand1"}) {
        Lumen::Bitmap picture;
        ASSERT_EQ(picture.load(("./data/" + name + ".bmp").c_str()), 1) << name;
        const int w = picture.m_dim[0], h = picture.m_dim[1];
        EXPECT_TRUE(picture.m_bits == 24 && picture.m_channels == 3 && w == h && w >= 256 && w <= 512 && !(w & (w - 1))
            && (name != "sand1" || w == 256)) << name;
    }
}

} // namespace
