// Loads the plug-in into the stand-in host the way the host program does and
// runs the main road on a synthetic diffraction pattern: guess and refine the
// centre and the ellipticity, integrate the pattern azimuthally, then find and
// fit the peaks of the profile, fit the Kirkland curve and compute the RDF,
// and save the profile and the peak table into the workbook demo.xls in the
// current folder.  Prints what was found against the truth the pattern was
// drawn with, the Results window, and the sheets the workbook holds.
#include "excel_file.h"
#include "plugin_session.h"
#include "synthetic_pattern.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979;

void print_results(standin::Host& host, size_t& shown) {
  // The host's texts are Windows-1252; the degree sign is the only byte
  // beyond ASCII they hold.
  for (; shown < host.Results().size(); ++shown)
    for (char c : host.Results()[shown]) {
      if (c == '\xB0')
        std::fputs("\xC2\xB0", stdout);
      else
        std::putchar(c);
    }
  for (const std::string& e : host.ScriptErrors())
    std::fprintf(stderr, "script error: %s\n", e.c_str());
}

// The drawn ring nearest to a profile position, by minor semi-axis.
double nearest_ring(const SyntheticOptions& truth, double position) {
  double nearest = truth.radii[0];
  for (double ring : truth.radii)
    if (std::fabs(ring - position) < std::fabs(nearest - position)) nearest = ring;
  return nearest;
}

}  // namespace

int main(int argc, char** argv) {
  PluginSession session;
  if (!session.Open(argc > 1 ? argv[1] : KELPO_PLUGIN_PATH)) return 1;
  standin::Host& host = session.host;
  standin::PluginLibrary& plugin = session.plugin;
  std::printf("Registered script functions:\n");
  for (const std::string& s : host.Signatures()) std::printf("  %s\n", s.c_str());
  plugin.Run();

  // A 1024 x 1024 pattern of 16-bit counts, as a camera would give it.
  const int32_t size = 1024;
  SyntheticOptions truth = synthetic_defaults(size, size);
  truth.axis_ratio = 1.04;
  truth.angle = 35.0 * kPi / 180.0;
  std::vector<float> pixels = synthetic_pattern(size, size, truth);
  DM_ImageToken pattern = host.NewImage("synthetic pattern", DM_TYPE_UINT16, size, size);
  host.SetPixels(pattern, std::vector<double>(pixels.begin(), pixels.end()));

  using standin::cell_arg;
  using standin::float_arg;
  using standin::float_ptr_arg;
  using standin::image_arg;
  size_t shown = 0;

  std::printf("\nGuessCenter, RefineCenter, RefineCenterEllipticity:\n");
  float x = 0, y = 0, radius = 0;
  host.Call("GuessCenter",
            {image_arg(pattern), float_ptr_arg(&x), float_ptr_arg(&y), float_ptr_arg(&radius)});
  print_results(host, shown);
  host.Call("RefineCenter",
            {image_arg(pattern), float_ptr_arg(&x), float_ptr_arg(&y), float_ptr_arg(&radius)});
  print_results(host, shown);
  float angle = 0, ratio = 1;
  host.Call("RefineCenterEllipticity",
            {image_arg(pattern), float_ptr_arg(&x), float_ptr_arg(&y), float_ptr_arg(&angle),
             float_ptr_arg(&ratio), float_ptr_arg(&radius), float_arg(0)});
  print_results(host, shown);

  // The ring radius is the peak of the circular profile about the found
  // centre, so on an elliptic ring it lies near the mean of the semi-axes.
  const double strongest = truth.radii[0];
  std::printf("\n%-46s %10s %10s\n", "", "found", "drawn");
  std::printf("%-46s %10.0f %10.1f\n", "centre x (pixels)", x, truth.center_x);
  std::printf("%-46s %10.0f %10.1f\n", "centre y (pixels)", y, truth.center_y);
  std::printf("%-46s %10.4f %10.4f\n", "axis ratio a/b", ratio, truth.axis_ratio);
  std::printf("%-46s %10.2f %10.2f\n", "major-axis angle (degrees)", angle,
              truth.angle * 180.0 / kPi);
  std::printf("%-46s %10.0f %10.1f\n", "strongest ring, radius of its circular profile", radius,
              strongest * (1.0 + truth.axis_ratio) / 2.0);
  std::printf("%-46s %10s %10.1f / %.1f\n", "  (drawn: mean semi-axis; minor / major)", "",
              strongest, strongest * truth.axis_ratio);
  std::printf("drawn rings, minor semi-axes (pixels):");
  for (double r : truth.radii) std::printf(" %.1f", r);
  std::printf("\n");

  std::printf("\nAzimuthalIntegralEllipticity about the refined centre:\n");
  DM_ImageToken profile = nullptr;
  host.Call("AzimuthalIntegralEllipticity",
            {image_arg(pattern), cell_arg(&profile), float_arg(x), float_arg(y), float_arg(angle),
             float_arg(ratio), float_arg(0)});
  print_results(host, shown);
  if (!profile) return 1;
  const std::vector<double> integral = host.Pixels(profile);
  const uint32_t length = static_cast<uint32_t>(integral.size());
  host.ReleaseImage(profile);
  std::printf("profile: %u bins; bin i holds elliptic radii (minor semi-axes) from i to i+1\n",
              length);

  // The peak functions write the background, the background-subtracted
  // profile and the model back into rows 1 to 3 of the profile image.
  DM_ImageToken rows = host.NewImage("profile", DM_TYPE_REAL4, length, 4);
  std::vector<double> four(4 * static_cast<size_t>(length), 0.0);
  std::copy(integral.begin(), integral.end(), four.begin());
  host.SetPixels(rows, four);

  std::printf("\nPeakFindPreFit and PeakFit:\n");
  DM_ImageToken peaks = nullptr, splines = nullptr;
  host.Call("PeakFindPreFit",
            {standin::real_image_arg(rows), cell_arg(&peaks), cell_arg(&splines), float_arg(2000),
             float_arg(2000), float_arg(60), float_arg(static_cast<float>(length) - 100)});
  print_results(host, shown);
  if (!peaks || !splines) return 1;
  const std::vector<double> prefit = host.Pixels(peaks);
  host.Call("PeakFit", {standin::real_image_arg(rows), standin::real_image_arg(peaks),
                        standin::real_image_arg(splines)});
  print_results(host, shown);
  const std::vector<double> fit = host.Pixels(peaks);

  // Each peak as the prefit left it and as the two fits left it; a ring of
  // minor semi-axis b lies in bin b and so shows at position b - 0.5.
  std::printf(
      "\nPeaks (position and HWHM in bins, intensity integrated over the peak, weight\n"
      "0 for a Gauss and 1 for a Cauchy shape), before and after the fits:\n");
  std::printf("%6s %-7s %10s %14s %8s %8s   %s\n", "peak", "", "position", "intensity", "HWHM",
              "weight", "drawn ring - 0.5");
  double change[4] = {0.0, 0.0, 0.0, 0.0};
  for (size_t r = 0; r + 3 < fit.size() && r + 3 < prefit.size(); r += 4) {
    std::printf("%6zu %-7s %10.2f %14.1f %8.2f %8.3f\n", r / 4 + 1, "prefit", prefit[r],
                prefit[r + 1], prefit[r + 2], prefit[r + 3]);
    std::printf("%6s %-7s %10.2f %14.1f %8.2f %8.3f   %.1f\n", "", "fit", fit[r], fit[r + 1],
                fit[r + 2], fit[r + 3], nearest_ring(truth, fit[r]) - 0.5);
    for (size_t c = 0; c < 4; ++c) {
      double d = std::fabs(fit[r + c] - prefit[r + c]);
      if (c == 1) d = 100.0 * d / std::max(std::fabs(prefit[r + c]), 1.0);
      change[c] = std::max(change[c], d);
    }
  }
  if (change[0] == 0.0 && change[1] == 0.0 && change[2] == 0.0 && change[3] == 0.0)
    std::printf("The fits left the prefit unchanged.\n");
  else
    std::printf(
        "Largest change by the fits: position %.3f bins, intensity %.2f %%, HWHM %.3f bins, "
        "weight %.3f.\n",
        change[0], change[1], change[2], change[3]);

  std::printf("\nRDF_Kirklandfit and CalculateRDF (an illustrative one-element composition):\n");
  // a1..a3, b1..b3, c1..c3, d1..d3, unused, share in percent.
  const std::vector<double> element = {0.25, 0.6,  0.12, 0.3, 2.0, 12.0, 0.05,
                                       0.02, 0.01, 0.4,  1.5, 6.0, 0.0,  100.0};
  DM_ImageToken elements = host.NewImage("elements", DM_TYPE_REAL4, 14, 1);
  host.SetPixels(elements, element);
  const float c = 0.02f;  // calibration: scattering coordinate per bin is c * 2 pi / 10
  const float step = static_cast<float>(c * 2.0 * kPi / 10.0);
  float offset = 1000, scale = 1000;
  host.Call("RDF_Kirklandfit",
            {standin::real_image_arg(rows), standin::real_image_arg(elements),
             float_ptr_arg(&offset), float_ptr_arg(&scale), float_arg(40),
             float_arg(static_cast<float>(length) - 20), float_arg(step), float_arg(0)});
  print_results(host, shown);
  std::printf("Kirkland curve: scale %.1f, offset %.1f (started from 1000 and 1000)\n", scale,
              offset);
  DM_ImageToken rdf = nullptr;
  host.Call("CalculateRDF", {standin::real_image_arg(rows), cell_arg(&rdf), float_arg(40),
                             float_arg(static_cast<float>(length) - 20), float_arg(c)});
  print_results(host, shown);
  if (rdf) {
    std::vector<double> g = host.Pixels(rdf);
    size_t best = 1;
    for (size_t k = 1; k < g.size(); ++k)
      if (g[k] > g[best]) best = k;
    std::printf("\"%s\" image: %zu values for r = 0, 0.01, 0.02, ...; largest at r = %.2f\n",
                host.ImageName(rdf).c_str(), g.size(), best * 0.01);
    host.ReleaseImage(rdf);
  }

  // The profile image's rows now hold the profile, the fitted Kirkland
  // curve, the reduced intensity and the peak model; each becomes a column
  // of the sheet, after the bin index.
  std::printf("\nsaveprofileasxls and saveimageasxls:\n");
  const std::string workbook = "demo.xls";
  DM_StringToken file = host.NewString(workbook);
  DM_StringToken profile_header =
      host.NewString("bin profile kirkland reduced_intensity peak_model");
  host.Call("saveprofileasxls", {standin::real_image_arg(rows), standin::string_arg(file),
                                 standin::string_arg(profile_header), float_arg(1)});
  DM_StringToken peak_header = host.NewString("position intensity HWHM weight");
  DM_StringToken peak_title = host.NewString("Fitted peaks");
  DM_StringToken peak_sheet = host.NewString("peaks");
  host.Call("saveimageasxls", {standin::real_image_arg(peaks), standin::string_arg(file),
                               standin::string_arg(peak_header), standin::string_arg(peak_title),
                               standin::string_arg(peak_sheet)});
  print_results(host, shown);
  for (DM_StringToken s : {file, profile_header, peak_header, peak_title, peak_sheet})
    host.ReleaseString(s);
  // Read the file back: a workbook the export makes afresh holds an empty
  // "Sheet1" after the data sheets.
  YCompoundFiles::YExcel::ExcelFile written;
  if (!written.Load(workbook.c_str())) {
    std::fprintf(stderr, "cannot read %s back\n", workbook.c_str());
    return 1;
  }
  std::printf("wrote %s, which holds %llu sheets:\n",
              std::filesystem::absolute(workbook).string().c_str(),
              static_cast<unsigned long long>(written.GetTotalSheets()));
  for (uint64_t i = 0; i < written.GetTotalSheets(); ++i) {
    const YCompoundFiles::YExcel::ExcelSheet* sheet = written.GetWorksheet(i);
    const char* name = written.GetSheetName(i);
    std::printf("  \"%s\": %llu rows x %llu columns\n", name ? name : "(a wide name)",
                static_cast<unsigned long long>(sheet ? sheet->GetTotalRows() : 0),
                static_cast<unsigned long long>(sheet ? sheet->GetTotalCols() : 0));
  }

  host.ReleaseImage(elements);
  host.ReleaseImage(peaks);
  host.ReleaseImage(splines);
  host.ReleaseImage(rows);
  host.ReleaseImage(pattern);

  plugin.Cleanup();
  plugin.Shutdown();
  plugin.Unload();
  return host.ScriptErrors().empty() ? 0 : 1;
}
