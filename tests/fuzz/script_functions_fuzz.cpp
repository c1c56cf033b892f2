// The script functions through the stand-in host, as a script would call
// them: up to four calls per input, of any registered function, with
// images of every pixel type (NaN, infinities and huge values among the
// pixels), floats, strings and file names in a scratch folder, the images
// a call leaves in its result cells fed to the calls after it. Script
// errors are the normal answer to bad arguments; what must never happen is
// a crash, more than one error from one call, a pixel lock left behind, an
// export that reports success without a workbook to show for it, or an
// image or string still alive once the input's own are released.
#include <cmath>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "excel_file.h"
#include "fuzz_support.h"
#include "stand_in_host.h"

using standin::CallResult;

namespace {

struct Function {
  std::string name;
  std::string parameters;  // one type-code letter per parameter
};

standin::Host* host = nullptr;
std::vector<Function> functions;
size_t images_at_start = 0;
size_t strings_at_start = 0;

const uint32_t kPixelTypes[] = {DM_TYPE_INT16, DM_TYPE_REAL4,  DM_TYPE_UINT8,  DM_TYPE_INT32,
                                DM_TYPE_INT8,  DM_TYPE_UINT16, DM_TYPE_UINT32, DM_TYPE_REAL8};

uint32_t dimension(fuzz::Input& in) {
  switch (in.Below(8)) {
    case 0:
      return 0;
    case 1:
      return 1;
    case 2:
      return 2 + in.Below(3);
    case 3:
      return 5 + in.Below(27);
    case 4:
    case 5:
      return 32 + in.Below(97);
    case 6:
      return 129 + in.Below(256);
    default:
      return 1 + in.Below(2048);
  }
}

// Pixels that give the analysis something to find (rings about a centre,
// peaks along a profile) or plain noise, with a few extreme values dropped
// in.
std::vector<double> fuzz_pixels(fuzz::Input& in, uint32_t width, uint32_t height) {
  const size_t count = static_cast<size_t>(width) * height;
  std::vector<double> pixels(count);
  const double cx = in.Below(width + 1), cy = in.Below(height + 1);
  const double radius = 1 + in.Below(64), spread = 0.5 + in.Below(16), peak = in.Float();
  const uint8_t mode = in.Byte() % 4;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      double& p = pixels[x + static_cast<size_t>(y) * width];
      const double d = mode == 2 ? std::abs(x - cx) : std::hypot(x - cx, y - cy);
      switch (mode) {
        case 0:
          p = peak;
          break;
        case 1:
        case 2:
          p = 10.0 + 100.0 * std::exp(-(d - radius) * (d - radius) / (2 * spread * spread)) +
              50.0 / (1 + d);
          break;
        default:
          p = static_cast<int8_t>(x * 37 + y * 11 + in.Byte());
          break;
      }
    }
  }
  for (uint32_t k = in.Below(4); k > 0 && count > 0; --k) pixels[in.U32() % count] = in.Float();
  return pixels;
}

DM_ImageToken fuzz_image(fuzz::Input& in, bool real) {
  const uint32_t type = real && in.Below(8) != 0 ? DM_TYPE_REAL4 : kPixelTypes[in.Below(8)];
  uint32_t width = dimension(in);
  // Profiles and peak tables are images a few rows high.
  uint32_t height = in.Bit() ? 1 + in.Below(4) : dimension(in);
  while (static_cast<uint64_t>(width) * height > 65536) height /= 2;
  DM_ImageToken image = host->NewImage("fuzz", type, width, height);
  host->SetPixels(image, fuzz_pixels(in, width, height));
  return image;
}

std::string fuzz_text(fuzz::Input& in) {
  switch (in.Below(4)) {
    case 0:
      return "";
    case 1:
      return "Radius Intensity Fit Background";
    default:
      return in.Bytes(48);
  }
}

// A file name for an export: always inside the scratch folder, whatever
// bytes the name is made of.
std::string file_name(fuzz::Input& in, const std::string& folder) {
  switch (in.Below(8)) {
    case 0:
      return folder + "/out.xls";
    case 1:
      return folder + "/given.xls";
    case 2:
      return folder;
    case 3:
      return folder + "/missing/out.xls";
    case 4:
      return "";
    default: {
      std::string name = in.Bytes(48);
      for (char& c : name)
        if (c == '/') c = '_';
      return folder + "/" + name;
    }
  }
}

// Float arguments that set how much work or memory a call takes, kept
// below a bound where a larger value is a request the call would honour
// (a projection of 10^8 columns is one) but no test machine can serve in
// the time and memory a fuzz run has. Values too large for an integer stay
// as drawn: the call must refuse those.
struct Bound {
  const char* function;
  size_t parameter;  // 0 for the first parameter
  float limit;
};
const Bound kBounds[] = {
    {"AzimuthalProjection", 4, 1e5f},
};

float bounded(const Function& f, size_t parameter, float value) {
  for (const Bound& b : kBounds)
    if (f.name == b.function && parameter == b.parameter && std::isfinite(value) &&
        std::fabs(value) > b.limit && std::fabs(value) < 2147483648.0f)
      return std::fmod(value, b.limit);
  return value;
}

// What one input's calls hold: every image it owns a reference to, and the
// argument storage a call points into.
struct Arena {
  std::vector<DM_ImageToken> images;
  std::deque<DM_ImageToken> cells;
  std::deque<float> floats;
  std::vector<DM_StringToken> strings;

  DM_ImageToken Image(fuzz::Input& in, bool real) {
    const uint8_t choice = in.Byte();
    if (choice < 16) return nullptr;
    if (!images.empty() && choice < 128) return images[choice % images.size()];
    images.push_back(fuzz_image(in, real));
    return images.back();
  }
  void Release() {
    for (DM_ImageToken image : images) host->ReleaseImage(image);
    images.clear();
  }
};

void fuzz_call(fuzz::Input& in, Arena& arena, const std::string& folder) {
  const Function& f = functions[in.Below(static_cast<uint32_t>(functions.size()))];
  std::vector<DM_Arg> args;
  std::string file;  // the first text of an export names its file
  bool first_text = true;
  for (size_t parameter = 0; parameter < f.parameters.size(); ++parameter) {
    switch (f.parameters[parameter]) {
      case 'B':
        args.push_back(standin::image_arg(arena.Image(in, false)));
        break;
      case 'R':
        args.push_back(standin::real_image_arg(arena.Image(in, true)));
        break;
      case 'C': {
        DM_ImageToken held = in.Below(4) == 0 ? arena.Image(in, false) : nullptr;
        if (held) host->Interface()->image_add_ref(held);
        arena.cells.push_back(held);
        args.push_back(standin::cell_arg(in.Below(32) == 0 ? nullptr : &arena.cells.back()));
        break;
      }
      case 'f':
        args.push_back(standin::float_arg(bounded(f, parameter, in.Float())));
        break;
      case 'p':
        arena.floats.push_back(in.Float());
        args.push_back(standin::float_ptr_arg(in.Below(32) == 0 ? nullptr : &arena.floats.back()));
        break;
      case 's': {
        const bool names_file = first_text && f.name.rfind("save", 0) == 0;
        first_text = false;
        const std::string text = names_file ? file_name(in, folder) : fuzz_text(in);
        if (names_file) file = text;
        arena.strings.push_back(host->NewString(text));
        args.push_back(standin::string_arg(arena.strings.back()));
        break;
      }
      default:
        fuzz::fail("unknown parameter type in " + f.name);
    }
  }
  const size_t results_before = host->Results().size();
  const CallResult result = host->Call(f.name, args);
  host->ClearScriptErrors();

  FUZZ_CHECK(result.script_errors.size() <= 1,
             f.name + " raised " + std::to_string(result.script_errors.size()) + " errors");
  // The host's own refusals (no handler entered) name no function.
  for (const std::string& e : result.script_errors)
    FUZZ_CHECK(!result.called || e.rfind(f.name + ": ", 0) == 0,
               f.name + " raised an error without its name: " + e);
  FUZZ_CHECK(host->LiveLocks() == 0, f.name + " left a pixel lock");
  for (DM_ImageToken& cell : arena.cells)
    if (cell) arena.images.push_back(cell), cell = nullptr;
  for (DM_StringToken text : arena.strings) host->ReleaseString(text);
  arena.strings.clear();

  bool error_line = false;
  for (size_t i = results_before; i < host->Results().size(); ++i)
    error_line = error_line || host->Results()[i].find("ERROR") != std::string::npos;
  if (!file.empty() && result.called && result.script_errors.empty() && !error_line) {
    YCompoundFiles::YExcel::ExcelFile book;
    FUZZ_CHECK(book.Load(file.c_str()),
               f.name + " reported success but " + file + " does not load");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static standin::Host the_host;
  static standin::PluginLibrary plugin;
  host = &the_host;
  std::string error;
  if (!plugin.Load(KELPO_PLUGIN_PATH, the_host, error))
    fuzz::fail("cannot load the plug-in: " + error);
  plugin.Startup();
  for (const std::string& text : the_host.Signatures()) {
    standin::Signature signature;
    if (!standin::parse_signature(text, signature)) fuzz::fail("unreadable signature: " + text);
    functions.push_back({signature.name, signature.type_code.substr(1)});
  }
  if (functions.empty()) fuzz::fail("the plug-in registered no function");
  images_at_start = the_host.LiveImages();
  strings_at_start = the_host.LiveStrings();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const std::string& folder = fuzz::scratch_folder_path();
  // Each input starts from an empty folder.
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ignored))
    std::filesystem::remove_all(entry.path(), ignored);
  // An existing file for the exports to extend or refuse.
  if (in.Bit()) {
    const std::string given = in.Bytes(8192);
    fuzz::write_file(folder + "/given.xls", given.data(), given.size());
  }

  Arena arena;
  for (uint32_t calls = 1 + in.Below(4); calls > 0; --calls) fuzz_call(in, arena, folder);
  arena.Release();
  host->ClearResults();
  FUZZ_CHECK(host->LiveImages() == images_at_start, "images left alive");
  FUZZ_CHECK(host->LiveStrings() == strings_at_start, "strings left alive");
  FUZZ_CHECK(host->LiveLocks() == 0, "pixel locks left");
  return 0;
}
