// The frame every pattern script function runs its work in, and the writers
// that turn a record's results into new "Results" images.
#pragma once

#include "image_data.h"
#include "plugin_sdk.h"

#include <cstdint>
#include <functional>

// Clones the pattern image, converts the clone to 4-byte real (the caller's
// image never changes), reads its sizes and name, locks its pixels into an
// image_data record and runs work on it.  Afterwards the lock, the clone and
// the reference to the input are released on every path; an exception passes
// on to the script boundary with everything released.
void run_pattern_frame(DM_ImageToken image, const std::function<void(image_data&)>& work);

// Sets the record's centre from the script's floats; a centre that is not a
// number or lies far outside the image gets an error line and false.
bool take_center(image_data& rec, float x, float y);

// The error line of a pattern image too small for the function's work,
// "ERROR in <function>. The image (W x H pixels) is too small for
// <purpose>. \n"; the caller then returns without output, as for an empty
// profile image.
void report_small_image(const image_data& rec, const char* function, const char* purpose);

// A new "Results" image profile_length wide and height high whose first row
// is the profile (an empty profile is reported and gives an empty image).
RealImagePtr DM_write_profile(const image_data& rec, uint32_t height);
// A new "Results" image holding the polar projection, one row per radius.
RealImagePtr DM_write_projection(const image_data& rec);
