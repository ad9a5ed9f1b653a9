#include "frameconversion.h"

#include <QCoreApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>

bool onlySoftwareOpenGl()
{
    // Where OpenGL is switched off, making a context only warns; keep the
    // probe out of the log.
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    QByteArray renderer;
    {
        QOpenGLContext context;
        QOffscreenSurface surface;
        if (context.create()) {
            surface.setFormat(context.format());
            surface.create();
            if (context.makeCurrent(&surface)) {
                renderer = QByteArray(reinterpret_cast<const char *>(
                                          context.functions()->glGetString(GL_RENDERER)))
                               .toLower();
                context.doneCurrent();
            }
        }
    }
    qInstallMessageHandler(previous);
    for (const char *name : {"llvmpipe", "softpipe", "swrast", "software rasterizer"})
        if (renderer.contains(name))
            return true;
    return false;
}

void chooseFrameConversion()
{
    static bool chosen = false;
    if (chosen)
        return;
    chosen = true;
    if (onlySoftwareOpenGl())
        QCoreApplication::setAttribute(Qt::AA_ForceRasterWidgets);
}
