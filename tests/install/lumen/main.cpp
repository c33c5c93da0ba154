// Reads a BMP picture, makes a half-size copy of it and prints both sizes and
// the blue byte of the copy's top-left pixel.
#include <imagebase>

#include <cstdio>

int main(int argc, char** argv)
{
    Lumen::Bitmap picture;
    picture.m_verbose = 0;
    if (argc < 2 || picture.load(argv[1]) != 1)
        return 1;
    Lumen::Image* half = picture.downsample(2, 2, 1, 1, true); // block averages; ours to delete
    if (!half)
        return 1;
    std::printf("%d x %d, halved %d x %d, top-left blue %g\n", picture.m_dim[0], picture.m_dim[1], half->m_dim[0],
                half->m_dim[1], half->getValue(0, 0, 0, 0, 0));
    delete half;
    return 0;
}
