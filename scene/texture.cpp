#include "texture.h"

#include <GL/gl.h>

#include <cstdint>

Texture::Texture()
    : textureId(0)
{
}

namespace {

// Only a complete 3-channel picture may reach glTexImage2D, which reads
// width * height * 3 bytes from it.
bool isBgrPicture(const Lumen::Bitmap& image)
{
    const int64_t width = image.m_dim[0];
    const int64_t height = image.m_dim[1];
    return image.getData() != nullptr && image.m_channels == 3 && width > 0 && height > 0
        && width * height * 3 <= int64_t(image.m_image_size);
}

} // namespace

void Texture::create()
{
    GLint previous = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);

    glGenTextures(1, &textureId);
    glBindTexture(GL_TEXTURE_2D, textureId);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);

    const bool usable = isBgrPicture(image);
    // The bitmap's rows are packed; with the default alignment of 4, widths
    // such as 1 or 2 pixels would make OpenGL read past the buffer.
    GLint alignment = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, 3, usable ? image.m_dim[0] : 0, usable ? image.m_dim[1] : 0, 0,
        GL_BGR_EXT, GL_UNSIGNED_BYTE, usable ? image.getData() : nullptr);
    glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);

    glBindTexture(GL_TEXTURE_2D, GLuint(previous));
}

void Texture::bind() const
{
    glBindTexture(GL_TEXTURE_2D, textureId);
}
