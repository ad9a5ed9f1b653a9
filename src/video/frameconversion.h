#pragma once

// Qt converts each frame of a painted video item through OpenGL when it can,
// and reads it back. On a software renderer (Mesa's llvmpipe: no GPU, as under
// Xvfb or in many virtual machines) that costs several times its CPU
// conversion, which raster-only widgets make it use. The picture is the same;
// a real GPU keeps Qt's choice.
bool onlySoftwareOpenGl();

// Once per process, before the first frame is painted.
void chooseFrameConversion();
