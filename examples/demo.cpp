// Loads the plug-in into the stand-in host the way the host program does and
// runs the main road on a synthetic diffraction pattern: guess and refine the
// centre and the ellipticity, integrate the pattern azimuthally, then find and
// fit the peaks of the profile, fit the Kirkland curve and compute the RDF,
// and save the profile and the peak table into the workbook demo.xls in the
// current folder.  Prints what was found against the truth the pattern was
// drawn with, and the Results window.
#include "stand_in_host.h"
#include "synthetic_pattern.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr double pi = 3.14159265358979;

void print_results(standin::Host &host, size_t &shown)
{
    // The host's texts are Windows-1252; the degree sign is the only byte
    // beyond ASCII they hold.
    for (; shown < host.results().size(); ++shown)
        for (char c : host.results()[shown]) {
            if (c == '\xB0')
                std::fputs("\xC2\xB0", stdout);
            else
                std::putchar(c);
        }
    for (const std::string &e : host.script_errors()) std::fprintf(stderr, "script error: %s\n", e.c_str());
}

}  // namespace

int main(int argc, char **argv)
{
    const char *path = argc > 1 ? argv[1] : KELPO_PLUGIN_PATH;
    standin::Host host;
    standin::PluginLibrary plugin;
    std::string error;
    if (!plugin.load(path, host, error)) {
        std::fprintf(stderr, "cannot load the plug-in: %s\n", error.c_str());
        return 1;
    }
    plugin.startup();
    std::printf("Registered script functions:\n");
    for (const std::string &s : host.signatures()) std::printf("  %s\n", s.c_str());
    plugin.run();

    // A 1024 x 1024 pattern of 16-bit counts, as a camera would give it.
    const int32_t size = 1024;
    synthetic_options truth = synthetic_defaults(size, size);
    truth.axis_ratio = 1.04;
    truth.angle = 35.0 * pi / 180.0;
    std::vector<float> pixels = synthetic_pattern(size, size, truth);
    DM_ImageToken pattern = host.new_image("synthetic pattern", DM_TYPE_UINT16, size, size);
    host.set_pixels(pattern, std::vector<double>(pixels.begin(), pixels.end()));

    using standin::cell_arg;
    using standin::float_arg;
    using standin::float_ptr_arg;
    using standin::image_arg;
    size_t shown = 0;

    std::printf("\nGuessCenter, RefineCenter, RefineCenterEllipticity:\n");
    float x = 0, y = 0, radius = 0;
    host.call("GuessCenter", {image_arg(pattern), float_ptr_arg(&x), float_ptr_arg(&y), float_ptr_arg(&radius)});
    print_results(host, shown);
    host.call("RefineCenter", {image_arg(pattern), float_ptr_arg(&x), float_ptr_arg(&y), float_ptr_arg(&radius)});
    print_results(host, shown);
    float angle = 0, ratio = 1;
    host.call("RefineCenterEllipticity",
              {image_arg(pattern), float_ptr_arg(&x), float_ptr_arg(&y), float_ptr_arg(&angle),
               float_ptr_arg(&ratio), float_ptr_arg(&radius), float_arg(0)});
    print_results(host, shown);

    std::printf("\n%-12s %12s %12s\n", "", "found", "true");
    std::printf("%-12s %12.2f %12.2f\n", "centre x", x, truth.center_x);
    std::printf("%-12s %12.2f %12.2f\n", "centre y", y, truth.center_y);
    std::printf("%-12s %12.4f %12.4f\n", "axis ratio", ratio, truth.axis_ratio);
    std::printf("%-12s %12.2f %12.2f\n", "angle (deg)", angle, truth.angle * 180.0 / pi);
    std::printf("%-12s %12.0f", "ring radius", radius);
    for (double r : truth.radii) std::printf(" %6.1f", r);
    std::printf("  (minor semi-axes)\n");

    std::printf("\nAzimuthalIntegralEllipticity about the refined centre:\n");
    DM_ImageToken profile = nullptr;
    host.call("AzimuthalIntegralEllipticity",
              {image_arg(pattern), cell_arg(&profile), float_arg(x), float_arg(y), float_arg(angle),
               float_arg(ratio), float_arg(0)});
    print_results(host, shown);
    if (!profile) return 1;
    const std::vector<double> integral = host.pixels(profile);
    const uint32_t length = static_cast<uint32_t>(integral.size());
    host.release_image(profile);
    std::printf("profile: %u bins\n", length);

    // The peak functions write the background, the background-subtracted
    // profile and the model back into rows 1 to 3 of the profile image.
    DM_ImageToken rows = host.new_image("profile", DM_TYPE_REAL4, length, 4);
    std::vector<double> four(4 * static_cast<size_t>(length), 0.0);
    std::copy(integral.begin(), integral.end(), four.begin());
    host.set_pixels(rows, four);

    std::printf("\nPeakFindPreFit and PeakFit:\n");
    DM_ImageToken peaks = nullptr, splines = nullptr;
    host.call("PeakFindPreFit", {standin::real_image_arg(rows), cell_arg(&peaks), cell_arg(&splines),
                                 float_arg(2000), float_arg(2000), float_arg(60),
                                 float_arg(static_cast<float>(length) - 100)});
    print_results(host, shown);
    if (!peaks || !splines) return 1;
    host.call("PeakFit", {standin::real_image_arg(rows), standin::real_image_arg(peaks),
                          standin::real_image_arg(splines)});
    print_results(host, shown);

    std::vector<double> table = host.pixels(peaks);
    std::printf("\n%10s %14s %10s %8s   %s\n", "position", "intensity", "HWHM", "weight",
                "drawn ring (minor semi-axis, mean radius)");
    for (size_t r = 0; r + 3 < table.size(); r += 4) {
        double nearest = truth.radii[0];
        for (double ring : truth.radii)
            if (std::fabs(ring - table[r]) < std::fabs(nearest - table[r])) nearest = ring;
        std::printf("%10.2f %14.1f %10.2f %8.3f   %.1f, %.1f\n", table[r], table[r + 1],
                    table[r + 2], table[r + 3], nearest,
                    nearest * (1.0 + truth.axis_ratio) / 2.0);
    }

    std::printf("\nRDF_Kirklandfit and CalculateRDF (an illustrative one-element composition):\n");
    // a1..a3, b1..b3, c1..c3, d1..d3, unused, share in percent.
    const std::vector<double> element = {0.25, 0.6, 0.12, 0.3, 2.0, 12.0,
                                         0.05, 0.02, 0.01, 0.4, 1.5, 6.0, 0.0, 100.0};
    DM_ImageToken elements = host.new_image("elements", DM_TYPE_REAL4, 14, 1);
    host.set_pixels(elements, element);
    const float c = 0.02f;  // calibration: scattering coordinate per bin is c * 2 pi / 10
    const float step = static_cast<float>(c * 2.0 * pi / 10.0);
    float offset = 1000, scale = 1000;
    host.call("RDF_Kirklandfit", {standin::real_image_arg(rows), standin::real_image_arg(elements),
                                  float_ptr_arg(&offset), float_ptr_arg(&scale), float_arg(40),
                                  float_arg(static_cast<float>(length) - 20), float_arg(step),
                                  float_arg(0)});
    print_results(host, shown);
    std::printf("scale %.1f, offset %.1f\n", scale, offset);
    DM_ImageToken rdf = nullptr;
    host.call("CalculateRDF", {standin::real_image_arg(rows), cell_arg(&rdf), float_arg(40),
                               float_arg(static_cast<float>(length) - 20), float_arg(c)});
    print_results(host, shown);
    if (rdf) {
        std::vector<double> g = host.pixels(rdf);
        size_t best = 1;
        for (size_t k = 1; k < g.size(); ++k)
            if (g[k] > g[best]) best = k;
        std::printf("\"%s\": %zu values, largest at r = %.2f\n", host.image_name(rdf).c_str(),
                    g.size(), best * 0.01);
        host.release_image(rdf);
    }

    // The profile image's rows now hold the profile, the fitted Kirkland
    // curve, the reduced intensity and the peak model; each becomes a column
    // of the sheet, after the bin index.
    std::printf("\nsaveprofileasxls and saveimageasxls:\n");
    const std::string workbook = "demo.xls";
    DM_StringToken file = host.new_string(workbook);
    DM_StringToken profile_header = host.new_string("bin profile kirkland reduced_intensity peak_model");
    host.call("saveprofileasxls", {standin::real_image_arg(rows), standin::string_arg(file),
                                   standin::string_arg(profile_header), float_arg(1)});
    DM_StringToken peak_header = host.new_string("position intensity HWHM weight");
    DM_StringToken peak_title = host.new_string("Fitted peaks");
    DM_StringToken peak_sheet = host.new_string("peaks");
    host.call("saveimageasxls", {standin::real_image_arg(peaks), standin::string_arg(file),
                                 standin::string_arg(peak_header), standin::string_arg(peak_title),
                                 standin::string_arg(peak_sheet)});
    print_results(host, shown);
    for (DM_StringToken s : {file, profile_header, peak_header, peak_title, peak_sheet})
        host.release_string(s);
    std::printf("wrote %s (sheets \"peaks\" and \"Profile\")\n",
                std::filesystem::absolute(workbook).string().c_str());

    host.release_image(elements);
    host.release_image(peaks);
    host.release_image(splines);
    host.release_image(rows);
    host.release_image(pattern);

    plugin.cleanup();
    plugin.shutdown();
    plugin.unload();
    return host.script_errors().empty() ? 0 : 1;
}
