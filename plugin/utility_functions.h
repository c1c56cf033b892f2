// Small script functions for the host's scripts: mouse buttons, synthetic
// key strokes, substrings and a number read out of a text.
#pragma once

#include "plugin_sdk.h"

#include <cstdint>

// 1.0 when the named button ("lm", "mm", "rm" in any letter case) was
// pressed since the last query and is still down, 0.0 when not, -1.0 for a
// name not in the list.
float GetMouseState(DM_StringToken button);
void FakeESC();
void FakeShiftDown();
void FakeShiftUp();
// At most length bytes of text from byte start on; a start past the end is a
// script error (and a null text).
DM_StringToken GetSubString(DM_StringToken text, float start, float length);
// The number in a text, either first or after one leading character; 0.0
// when there is none.
float extractpixelsize(DM_StringToken text);

// Replaces every pixel of value 1.0 connected to (x, y) through the four
// neighbours by 2.0, touching only pixels at least one pixel inside the
// border.  Not registered, and nothing in the project calls it.
void floodfill(int32_t x, int32_t y, int32_t width, int32_t height, float* data);
// Converts the image itself to 4-byte real and flood-fills it from
// (trunc(x), trunc(y)).  Not registered either, and nothing calls it.
void floodfill_image(const BasicImage& image, float x, float y);
