#include "glwidget.h"

#include <GL/freeglut.h>

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // The head-up texts use GLUT's bitmap fonts, which need GLUT set up once.
    glutInit(&argc, argv);

    glWidget window;
    window.show();
    return app.exec();
}
