// Loads the plug-in into the stand-in host the way the host program does and
// runs the main road on a synthetic diffraction pattern: guess and refine the
// centre and the ellipticity, integrate the pattern azimuthally, then find and
// fit the peaks of the profile.  Prints what was found against the truth the
// pattern was drawn with, and the Results window.
#include "stand_in_host.h"
#include "synthetic_pattern.h"

#include <cstdio>
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
    if (profile) {
        std::vector<double> p = host.pixels(profile);
        std::printf("profile \"%s\": %zu bins; at each ring radius:", host.image_name(profile).c_str(), p.size());
        for (double r : truth.radii)
            if (static_cast<size_t>(r) < p.size()) std::printf(" %.0f", p[static_cast<size_t>(r)]);
        std::printf("\n");
        host.release_image(profile);
    }
    host.release_image(pattern);

    plugin.cleanup();
    plugin.shutdown();
    plugin.unload();
    return host.script_errors().empty() ? 0 : 1;
}
