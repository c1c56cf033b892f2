#pragma once
// Independent .xls readers and writers for the tests, through the helper
// script xls_tool.py beside this file (xlrd reads, xlwt writes), run by the
// system's Python. Also a scratch folder for the files the tests write.
//
// The script is found through KELPO_SOURCE_DIR (set by ctest) or, failing
// that, KELPO_WORKBOOK_TEST_DIR given at compile time.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <sys/wait.h>

namespace xls_tool {

struct Cell {
  std::string kind;  // "number", "text", "bool" or "error" (its text in text)
  double number = 0.0;
  std::string text;  // UTF-8
};

struct Sheet {
  std::string name;  // UTF-8
  int rows = 0;
  int cols = 0;
  std::map<std::pair<int, int>, Cell> cells;

  const Cell* At(int r, int c) const {
    auto it = cells.find({r, c});
    return it == cells.end() ? nullptr : &it->second;
  }
};

using Book = std::vector<Sheet>;

inline std::string script_path() {
  const char* env = std::getenv("KELPO_SOURCE_DIR");
  if (env && *env) return std::string(env) + "/tests/workbook/xls_tool.py";
  return std::string(KELPO_WORKBOOK_TEST_DIR) + "/xls_tool.py";
}

// Runs the script with the arguments (quoted by the caller); output is
// stdout and stderr together. Returns the exit code, -1 when it did not run.
inline int run_script(const std::string& arguments, std::string& output) {
  const std::string command = "/usr/bin/python3 '" + script_path() + "' " + arguments + " 2>&1";
  output.clear();
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline bool module_present(const std::string& module) {
  static std::string probe;
  static int rc = run_script("probe", probe);
  return rc == 0 && probe.find(module + " yes") != std::string::npos;
}

inline std::string unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const char e = s[++i];
    out += e == 't' ? '\t' : e == 'n' ? '\n' : e;
  }
  return out;
}

// Reads the script's sheet-and-cell listing.
inline bool parse(const std::string& listing, Book& book) {
  book.clear();
  std::istringstream in(listing);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> f;
    std::string field;
    std::istringstream fields(line);
    while (std::getline(fields, field, '\t')) f.push_back(field);
    if (f.size() == 4 && f[0] == "sheet") {
      book.push_back({unescape(f[1]), std::stoi(f[2]), std::stoi(f[3]), {}});
    } else if (f.size() >= 4 && f[0] == "cell" && !book.empty()) {
      Cell cell;
      cell.kind = f[3];
      const std::string value = f.size() > 4 ? f[4] : "";
      if (cell.kind == "number" || cell.kind == "bool")
        cell.number = std::strtod(value.c_str(), nullptr);
      else
        cell.text = unescape(value);
      book.back().cells[{std::stoi(f[1]), std::stoi(f[2])}] = cell;
    } else {
      return false;
    }
  }
  return true;
}

// The workbook as xlrd reads it.
inline ::testing::AssertionResult dump_book(const std::string& file, Book& book) {
  std::string output;
  const int rc = run_script("dump '" + file + "'", output);
  if (rc != 0)
    return ::testing::AssertionFailure() << "xlrd cannot read " << file << ": " << output;
  if (!parse(output, book))
    return ::testing::AssertionFailure() << "unreadable listing: " << output;
  return ::testing::AssertionSuccess();
}

// Writes a workbook with xlwt; book receives what was written.
inline ::testing::AssertionResult make_with_xlwt(const std::string& file, Book& book) {
  std::string output;
  const int rc = run_script("make-xlwt '" + file + "'", output);
  if (rc != 0) return ::testing::AssertionFailure() << "xlwt failed: " << output;
  if (!parse(output, book))
    return ::testing::AssertionFailure() << "unreadable listing: " << output;
  return ::testing::AssertionSuccess();
}

// The phonetic readings of the file's shared strings, as the script lists
// them (read from the record bytes); "?" when it cannot read them.
inline std::string phonetic_readings(const std::string& file) {
  std::string output;
  return run_script("phonetic '" + file + "'", output) == 0 ? output : "?" + output;
}

// The workbook as a spreadsheet program ("libreoffice" or "gnumeric")
// computes it when it opens the file, saved by it and read by xlrd; folder
// takes the program's files.
inline ::testing::AssertionResult recalculated_book(const std::string& folder,
                                                    const std::string& file,
                                                    const std::string& program, Book& book) {
  std::string output;
  const int rc = run_script("recalculated '" + folder + "' '" + file + "' " + program, output);
  if (rc != 0) return ::testing::AssertionFailure() << program << " failed: " << output;
  if (!parse(output, book))
    return ::testing::AssertionFailure() << "unreadable listing: " << output;
  return ::testing::AssertionSuccess();
}

// Whether LibreOffice (soffice) and gnumeric's ssconvert are installed.
inline bool readers_present() {
  static std::string probe;
  static int rc = run_script("probe-readers", probe);
  return rc == 0 && probe.find("soffice yes") != std::string::npos &&
         probe.find("ssconvert yes") != std::string::npos;
}

// Opens every file with xlrd, LibreOffice and gnumeric (see the script's
// "check"): each spec is a file, or "file=original" for a file extended
// from the original. Succeeds when every program reads every file without
// a warning and with the same sheets and values.
inline ::testing::AssertionResult readers_agree(const std::string& folder,
                                                const std::vector<std::string>& specs) {
  std::string arguments = "check '" + folder + "'";
  for (const std::string& spec : specs) arguments += " '" + spec + "'";
  std::string output;
  const int rc = run_script(arguments, output);
  if (rc != 0) return ::testing::AssertionFailure() << "the readers disagree:\n" << output;
  return ::testing::AssertionSuccess();
}

// Whether java, javac and the Java spreadsheet library are installed.
inline bool poi_present() {
  static std::string probe;
  static int rc = run_script("probe-poi", probe);
  return rc == 0 && probe.find("poi yes") != std::string::npos;
}

// Reads each "extended=original" pair through the Java spreadsheet library
// in one run (the script's "check-poi"): succeeds when every sheet of each
// original, and every name, reads the same in the extended file.
inline ::testing::AssertionResult poi_agrees(const std::string& folder,
                                             const std::vector<std::string>& specs) {
  std::string arguments = "check-poi '" + folder + "'";
  for (const std::string& spec : specs) arguments += " '" + spec + "'";
  std::string output;
  if (run_script(arguments, output) != 0)
    return ::testing::AssertionFailure() << "the Java library reads them apart:\n" << output;
  return ::testing::AssertionSuccess();
}

// A workbook of the fixtures folder, written by an independent program.
inline std::string fixture_path(const std::string& name) {
  const char* env = std::getenv("KELPO_SOURCE_DIR");
  if (env && *env) return std::string(env) + "/tests/workbook/data/" + name;
  return std::string(KELPO_WORKBOOK_TEST_DIR) + "/data/" + name;
}

// A fresh file path in a folder of this process, removed at exit.
inline std::string scratch_path(const std::string& name) {
  static const struct Folder {
    std::string path;
    Folder() {
      char pattern[] = "/tmp/kelpo_xls_XXXXXX";
      const char* made = mkdtemp(pattern);
      path = made ? made : "/tmp";
    }
    ~Folder() {
      if (path != "/tmp" && !std::getenv("KEEP_XLS_TEST_FILES")) {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
      }
    }
  } folder;
  return folder.path + "/" + name;
}

}  // namespace xls_tool

// Use inside a TEST body: skips (or, when CI is set, fails) unless the
// spreadsheet programs used as readers are installed.
#define REQUIRE_READERS()                                                                          \
  do {                                                                                             \
    if (!xls_tool::readers_present()) {                                                            \
      const char* ci = std::getenv("CI");                                                          \
      if (ci != nullptr && *ci != '\0')                                                            \
        FAIL() << "independent readers missing: soffice, ssconvert";                               \
      GTEST_SKIP() << "independent readers missing (install libreoffice-calc-nogui and gnumeric)"; \
    }                                                                                              \
  } while (0)

// The same for java and the Java spreadsheet library.
#define REQUIRE_POI()                                                                      \
  do {                                                                                     \
    if (!xls_tool::poi_present()) {                                                        \
      const char* ci = std::getenv("CI");                                                  \
      if (ci != nullptr && *ci != '\0') FAIL() << "independent reader missing: java, POI"; \
      GTEST_SKIP() << "independent reader missing (install default-jdk-headless and "      \
                      "libapache-poi-java)";                                               \
    }                                                                                      \
  } while (0)

// The same for a Python module.
#define REQUIRE_XLS_TOOL(module)                                                               \
  do {                                                                                         \
    if (!xls_tool::module_present(module)) {                                                   \
      const char* ci = std::getenv("CI");                                                      \
      if (ci != nullptr && *ci != '\0') FAIL() << "independent tool missing: python3-" module; \
      GTEST_SKIP() << "independent tool missing (install python3-" module "): " module;        \
    }                                                                                          \
  } while (0)
