#pragma once
// Helpers shared by the compound-document tests: scratch files, raw file
// bytes, an independent check of a file's on-disk layout, and the bridge to
// the independent readers of the interop tests.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace compound_test {

// A fresh path in a per-process scratch folder.
std::string scratch_path(const std::string& name);
std::vector<unsigned char> read_file_bytes(const std::string& path);
void write_file_bytes(const std::string& path, const std::vector<unsigned char>& bytes);

uint32_t u32(const std::vector<unsigned char>& bytes, uint64_t offset);
void put_u32(std::vector<unsigned char>& bytes, uint64_t offset, uint32_t value);

// What an independent parse of a file finds. Paths use backslashes and
// start with one ("\A\B").
struct Layout {
  std::map<std::string, std::vector<char>> streams;
  std::set<std::string> storages;
};

// Parses the file as written by this library and checks the layout it
// promises: whole blocks, compact tables, the file ending with the last used
// block, every used block and small block owned by exactly one chain, the
// root entry's size = 64 x small blocks in use, extension blocks as
// published, free directory slots as published, sibling trees that a reader
// searching by the published order can walk. Returns "" or a description of
// the first violation.
std::string check_layout(const std::string& path, Layout& layout);

// Interop helper: runs tests/compound/interop_tool.py with /usr/bin/python3.
// Returns the exit code; output is captured.
int run_tool(const std::string& arguments, std::string& output);
// Skips (or, when CI is set, fails) the current test unless the named
// independent tools are present ("olefile", "gsf", "xlwt").
bool tools_present(const std::vector<std::string>& tools, std::string& missing);

}  // namespace compound_test

// Use inside a TEST body.
#define REQUIRE_TOOLS(...)                                                                       \
  do {                                                                                           \
    std::string missing_tools;                                                                   \
    if (!compound_test::tools_present({__VA_ARGS__}, missing_tools)) {                           \
      const char* ci = std::getenv("CI");                                                        \
      if (ci != nullptr && *ci != '\0') FAIL() << "independent tool missing: " << missing_tools; \
      GTEST_SKIP() << "independent tool missing (install python3-olefile, libgsf-bin, "          \
                      "python3-xlwt): "                                                          \
                   << missing_tools;                                                             \
    }                                                                                            \
  } while (0)
