// Script functions that turn a pattern into a radial profile or a polar
// projection, stored as a new "Results" image in the result cell.  Angles
// arrive in degrees; `average` 1 averages each radius bin, 0 integrates it.
//
// Refusals leave the result cell untouched.  An argument value the kernels
// cannot use (a centre far off the image, an axis ratio that is not a
// positive number, an angle that is not a number, a sector outside [0, 2 pi])
// gets one "ERROR! ..." line in the Results window.  An image too small for
// the result, or a projection size no image can have, is a script error
// raised before anything is allocated.
#pragma once

#include "plugin_sdk.h"

#include <cstdint>

void AzimuthalProfile(DM_ImageToken image, DM_ImageToken* result, float cx, float cy, float radius,
                      int32_t average);
void AzimuthalProfileEllipticity(DM_ImageToken image, DM_ImageToken* result, float cx, float cy,
                                 float angle, float ratio, float radius, int32_t average);
void AzimuthalProfileSektor(DM_ImageToken image, DM_ImageToken* result, float cx, float cy,
                            float start, float end, float radius, int32_t average);
void AzimuthalProfileSektorEllipticity(DM_ImageToken image, DM_ImageToken* result, float cx,
                                       float cy, float angle, float ratio, float start, float end,
                                       float radius, int32_t average);

void AzimuthalIntegral(DM_ImageToken image, DM_ImageToken* result, float cx, float cy,
                       float radius);
void AzimuthalAverage(DM_ImageToken image, DM_ImageToken* result, float cx, float cy, float radius);
void AzimuthalIntegralEllipticity(DM_ImageToken image, DM_ImageToken* result, float cx, float cy,
                                  float angle, float ratio, float radius);
void AzimuthalAverageEllipticity(DM_ImageToken image, DM_ImageToken* result, float cx, float cy,
                                 float angle, float ratio, float radius);
void AzimuthalIntegralSektor(DM_ImageToken image, DM_ImageToken* result, float cx, float cy,
                             float start, float end, float radius);
void AzimuthalAverageSektor(DM_ImageToken image, DM_ImageToken* result, float cx, float cy,
                            float start, float end, float radius);
void AzimuthalIntegralSektorEllipticity(DM_ImageToken image, DM_ImageToken* result, float cx,
                                        float cy, float angle, float ratio, float start, float end,
                                        float radius);
void AzimuthalAverageSektorEllipticity(DM_ImageToken image, DM_ImageToken* result, float cx,
                                       float cy, float angle, float ratio, float start, float end,
                                       float radius);
void AzimuthalProjection(DM_ImageToken image, DM_ImageToken* result, float cx, float cy,
                         float columns);
