#include "profile_functions.h"

#include "kelpotools.h"
#include "peaks.h"
#include "profile_converters.h"
#include "profile_data.h"
#include "pseudovoigt.h"
#include "rdf.h"

#include <cmath>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

// The frame of every profile function: one record for the call, freed on
// every path (exceptions pass on to the script boundary).
void run_profile_frame(const std::function<void(profile_data&)>& work) {
  profile_data rec;
  work(rec);
}

float read_float(const float* value) {
  if (!value) throw HostError("no float behind the pointer");
  return *value;
}

// A float argument that is no finite number would make every value of the
// result a NaN or an infinity without a word: the call is refused.
void require_finite(float value, const char* what) {
  if (!std::isfinite(value))
    throw std::invalid_argument(std::string(what) + " must be a finite number");
}

// Shared by PeakFind and PeakFindPreFit: reads the profile and finds the
// peaks; false when the call ends here.
bool find_peaks(profile_data& rec, const RealImagePtr& profile, const char* caller, float delta,
                float minstep, float begincut, float endcut) {
  if (!DM_read_profile(rec, profile, caller)) return false;
  DM_result("Estimating peakpositions and splinepoints. \n");
  findpeaks(rec, delta, minstep, begincut, endcut, 0);
  if (rec.npeaks >= 1) return true;
  DM_result("Error found 0 peaks! \n");
  return false;
}

// Reads the three images of PreFit and PeakFit; `mode` 1 reads only the peak
// positions.
bool read_fit_input(profile_data& rec, const RealImagePtr& profile, const RealImagePtr& peaks,
                    const RealImagePtr& splines, int32_t mode, const char* caller) {
  return DM_read_profile(rec, profile, caller) &&
         DM_read_peakparameters(rec, peaks, mode, caller) &&
         DM_read_splinepoints(rec, splines, caller);
}

// Reads the profile, step, element table and the two start values shared by
// the Kirkland functions.
bool read_kirkland_input(profile_data& rec, const RealImagePtr& profile,
                         const RealImagePtr& elements, const float* offset, const float* scale,
                         float step, const char* caller) {
  rec.offset = read_float(offset);
  rec.scale = read_float(scale);
  require_finite(rec.offset, "the offset");
  require_finite(rec.scale, "the scale");
  require_finite(step, "the step");
  if (!DM_read_profile(rec, profile, caller)) return false;
  rec.step = step;
  return DM_read_elementtable(rec, elements, caller);
}

}  // namespace

void PeakFind(DM_RealImageToken profile, DM_ImageToken* peaks, DM_ImageToken* splines, float delta,
              float minstep, float begincut, float endcut) {
  run_profile_frame([&](profile_data& rec) {
    RealImagePtr image(profile);
    if (!find_peaks(rec, image, "PeakFind", delta, minstep, begincut, endcut)) return;
    // Both images are made before either cell changes, so that a host
    // failure leaves both cells as they were.
    RealImagePtr table = DM_write_peakparameters(rec, 1);
    RealImagePtr points = DM_write_splinepoints(rec);
    DM_store_image(peaks, std::move(table));
    DM_store_image(splines, std::move(points));
  });
}

void PeakFindPreFit(DM_RealImageToken profile, DM_ImageToken* peaks, DM_ImageToken* splines,
                    float delta, float minstep, float begincut, float endcut) {
  run_profile_frame([&](profile_data& rec) {
    RealImagePtr image(profile);
    if (!find_peaks(rec, image, "PeakFindPreFit", delta, minstep, begincut, endcut)) return;
    if (!prefit_sequence(rec, "PeakFindPreFit")) return;
    RealImagePtr table = DM_write_peakparameters(rec, 0);
    RealImagePtr points = DM_write_splinepoints(rec);
    DM_update_profile(rec, image);
    DM_store_image(peaks, std::move(table));
    DM_store_image(splines, std::move(points));
  });
}

void PreFit(DM_RealImageToken profile, DM_RealImageToken peaks, DM_RealImageToken splines) {
  run_profile_frame([&](profile_data& rec) {
    RealImagePtr image(profile), table(peaks), points(splines);
    if (!read_fit_input(rec, image, table, points, 1, "PreFit")) return;
    if (!prefit_sequence(rec, "PreFit")) return;
    DM_update_peakparameters(rec, table);
    DM_update_splinepoints(rec, points);
    DM_update_profile(rec, image);
  });
}

void PeakFit(DM_RealImageToken profile, DM_RealImageToken peaks, DM_RealImageToken splines) {
  run_profile_frame([&](profile_data& rec) {
    RealImagePtr image(profile), table(peaks), points(splines);
    if (!read_fit_input(rec, image, table, points, 0, "PeakFit")) return;
    if (!peakfit_sequence(rec, "PeakFit")) return;
    // The re-estimated spline heights live on only in rows 1 and 2.
    DM_update_peakparameters(rec, table);
    DM_update_profile(rec, image);
  });
}

void RDF_Kirklandfit(DM_RealImageToken profile, DM_RealImageToken elements, float* offset,
                     float* scale, float start, float end, float step, float) {
  run_profile_frame([&](profile_data& rec) {
    RealImagePtr image(profile), table(elements);
    if (!read_kirkland_input(rec, image, table, offset, scale, step, "RDF_Kirklandfit")) return;
    int32_t first = 0;
    int32_t last = 0;
    if (!check_range(rec, start, end, "RDF_Kirklandfit", first, last)) return;
    kirklandfit(rec, first, last);
    DM_update_kirkland(rec, image);
    *offset = rec.offset;
    *scale = rec.scale;
  });
}

void RDF_Kirklandfunction(DM_RealImageToken profile, DM_RealImageToken elements, float* offset,
                          float* scale, float step, float) {
  run_profile_frame([&](profile_data& rec) {
    RealImagePtr image(profile), table(elements);
    if (!read_kirkland_input(rec, image, table, offset, scale, step, "RDF_Kirklandfunction"))
      return;
    DM_update_kirkland(rec, image);
  });
}

void CalculateRDF(DM_RealImageToken profile, DM_ImageToken* rdf, float start, float end, float c) {
  run_profile_frame([&](profile_data& rec) {
    RealImagePtr image(profile);
    require_finite(c, "c");
    rec.step = rdf_step(c);
    if (!DM_read_profile_row2(rec, image, "CalculateRDF")) return;
    DM_store_image(rdf, DM_write_rdf(rec, start, end));
  });
}
