#include "azimuthal_functions.h"

#include "azimuthal.h"
#include "kelpotools.h"
#include "numeric.h"
#include "pattern_frame.h"

namespace {

// The radius handed to the kernels: the largest about the centre, the
// largest circle inside the image for an argument of exactly 1, or the
// argument itself when it is above 1 and below that largest radius.
int32_t outer_radius(const image_data &rec, float argument)
{
    int32_t r = maxradius(&rec, 0);
    if (argument == 1.0f) return maxradius(&rec, 1);
    if (argument > 1.0f && static_cast<float>(r) > argument) return static_cast<int32_t>(argument);
    return r;
}

float degrees_to_radians(float degrees)
{
    return static_cast<float>(static_cast<double>(degrees) * pi / 180.0);
}

float sector_degrees_to_radians(float degrees)
{
    return static_cast<float>(static_cast<double>(degrees / 180.0f) * pi);
}

// False (after the error line) when the sector cannot be integrated.
bool sector_in_range(float start, float end)
{
    if (start < 0.0f) {
        DM_result("ERROR! The starting angle is negative. \n Please provide angle values in the "
                  "interval [0,2pi]. \n");
        return false;
    }
    if (static_cast<double>(end) > two_pi) {
        DM_result("ERROR! The ending angle is larger than 2pi. \n Please provide angle values in "
                  "the interval [0,2pi]. \n");
        return false;
    }
    return true;
}

void set_ellipse(image_data &rec, float angle, float ratio)
{
    rec.angle = degrees_to_radians(angle);
    rec.axis_ratio = ratio;
}

}  // namespace

void AzimuthalProfile(DM_ImageToken image, DM_ImageToken *result, float cx, float cy,
                      float radius, int32_t average)
{
    run_pattern_frame(image, [&](image_data &rec) {
        if (!take_center(rec, cx, cy)) return;
        azimuthalint_whole(&rec, outer_radius(rec, radius), average);
        DM_store_image(result, DM_write_profile(rec, 1));
    });
}

void AzimuthalProfileEllipticity(DM_ImageToken image, DM_ImageToken *result, float cx, float cy,
                                 float angle, float ratio, float radius, int32_t average)
{
    run_pattern_frame(image, [&](image_data &rec) {
        if (!take_center(rec, cx, cy)) return;
        set_ellipse(rec, angle, ratio);
        azimuthalintell(&rec, outer_radius(rec, radius), average);
        DM_store_image(result, DM_write_profile(rec, 1));
    });
}

void AzimuthalProfileSektor(DM_ImageToken image, DM_ImageToken *result, float cx, float cy,
                            float start, float end, float radius, int32_t average)
{
    run_pattern_frame(image, [&](image_data &rec) {
        if (!take_center(rec, cx, cy)) return;
        float a0 = sector_degrees_to_radians(start);
        float a1 = sector_degrees_to_radians(end);
        if (!sector_in_range(a0, a1)) return;
        azimuthalint_sektor(&rec, outer_radius(rec, radius), a0, a1, average);
        DM_store_image(result, DM_write_profile(rec, 1));
    });
}

void AzimuthalProfileSektorEllipticity(DM_ImageToken image, DM_ImageToken *result, float cx,
                                       float cy, float angle, float ratio, float start, float end,
                                       float radius, int32_t average)
{
    run_pattern_frame(image, [&](image_data &rec) {
        if (!take_center(rec, cx, cy)) return;
        set_ellipse(rec, angle, ratio);
        float a0 = sector_degrees_to_radians(start);
        float a1 = sector_degrees_to_radians(end);
        if (!sector_in_range(a0, a1)) return;
        azimuthalintell_sektor(&rec, outer_radius(rec, radius), a0, a1, average);
        DM_store_image(result, DM_write_profile(rec, 1));
    });
}

void AzimuthalIntegral(DM_ImageToken image, DM_ImageToken *result, float cx, float cy, float radius)
{
    AzimuthalProfile(image, result, cx, cy, radius, 0);
}

void AzimuthalAverage(DM_ImageToken image, DM_ImageToken *result, float cx, float cy, float radius)
{
    AzimuthalProfile(image, result, cx, cy, radius, 1);
}

void AzimuthalIntegralEllipticity(DM_ImageToken image, DM_ImageToken *result, float cx, float cy,
                                  float angle, float ratio, float radius)
{
    AzimuthalProfileEllipticity(image, result, cx, cy, angle, ratio, radius, 0);
}

void AzimuthalAverageEllipticity(DM_ImageToken image, DM_ImageToken *result, float cx, float cy,
                                 float angle, float ratio, float radius)
{
    AzimuthalProfileEllipticity(image, result, cx, cy, angle, ratio, radius, 1);
}

void AzimuthalIntegralSektor(DM_ImageToken image, DM_ImageToken *result, float cx, float cy,
                             float start, float end, float radius)
{
    AzimuthalProfileSektor(image, result, cx, cy, start, end, radius, 0);
}

void AzimuthalAverageSektor(DM_ImageToken image, DM_ImageToken *result, float cx, float cy,
                            float start, float end, float radius)
{
    AzimuthalProfileSektor(image, result, cx, cy, start, end, radius, 1);
}

void AzimuthalIntegralSektorEllipticity(DM_ImageToken image, DM_ImageToken *result, float cx,
                                        float cy, float angle, float ratio, float start, float end,
                                        float radius)
{
    AzimuthalProfileSektorEllipticity(image, result, cx, cy, angle, ratio, start, end, radius, 0);
}

void AzimuthalAverageSektorEllipticity(DM_ImageToken image, DM_ImageToken *result, float cx,
                                       float cy, float angle, float ratio, float start, float end,
                                       float radius)
{
    AzimuthalProfileSektorEllipticity(image, result, cx, cy, angle, ratio, start, end, radius, 1);
}

void AzimuthalProjection(DM_ImageToken image, DM_ImageToken *result, float cx, float cy,
                         float columns)
{
    run_pattern_frame(image, [&](image_data &rec) {
        if (!take_center(rec, cx, cy)) return;
        int32_t cols = 0;
        if (!float_to_int(columns, cols)) {
            DM_result("ERROR! The number of columns is not a valid number. \n");
            return;
        }
        polarprojection(&rec, 1, maxradius(&rec, 1) - 5, cols);
        DM_store_image(result, DM_write_projection(rec));
    });
}
