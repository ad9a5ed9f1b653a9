#pragma once

#include "videofacts.h"

class BitReader;

// The start of the video usability information, alike in H.264 and H.265:
// sample aspect ratio, overscan, signal type with the colour description,
// chroma location. Each group goes into facts only when it was read whole.
// False when the fields ran past the end.
bool readVuiPictureFields(BitReader &r, VideoFacts &facts);
