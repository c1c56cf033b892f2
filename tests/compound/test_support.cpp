#include "test_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace compound_test {
namespace {

constexpr uint32_t kFree = 0xFFFFFFFF, kEnd = 0xFFFFFFFE, kFat = 0xFFFFFFFD, kExt = 0xFFFFFFFC;

std::string source_dir() {
  const char* env = std::getenv("KELPO_SOURCE_DIR");
  if (env != nullptr && *env != '\0') return std::string(env) + "/tests/compound";
  return KELPO_COMPOUND_TEST_DIR;
}

char upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

// Published sibling order (names here are ASCII).
bool name_before(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  for (size_t i = 0; i < a.size(); ++i)
    if (upper(a[i]) != upper(b[i])) return upper(a[i]) < upper(b[i]);
  return false;
}

}  // namespace

std::string scratch_path(const std::string& name) {
  // Removed at exit unless KEEP_COMPOUND_TEST_FILES is set (for a look at
  // the files of a failed run).
  static const std::string dir = [] {
    std::string d = "/tmp/compound_test_" + std::to_string(getpid());
    std::system(("mkdir -p " + d).c_str());
    std::atexit([] {
      if (std::getenv("KEEP_COMPOUND_TEST_FILES") == nullptr)
        std::system(("rm -rf /tmp/compound_test_" + std::to_string(getpid())).c_str());
    });
    return d;
  }();
  return dir + "/" + name;
}

std::vector<unsigned char> read_file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>());
}

void write_file_bytes(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

uint32_t u32(const std::vector<unsigned char>& b, uint64_t o) {
  return uint32_t{b[o]} | uint32_t{b[o + 1]} << 8 | uint32_t{b[o + 2]} << 16 |
         uint32_t{b[o + 3]} << 24;
}

void put_u32(std::vector<unsigned char>& b, uint64_t o, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[o + i] = static_cast<unsigned char>(v >> (8 * i));
}

std::string check_layout(const std::string& path, Layout& layout) {
  layout = Layout();
  const std::vector<unsigned char> b = read_file_bytes(path);
  if (b.size() < 1536 || b.size() % 512 != 0) return "file size " + std::to_string(b.size());
  const uint64_t n = b.size() / 512 - 1;
  auto at = [&](uint32_t block) { return (uint64_t{block} + 1) * 512; };
  const uint32_t fat_count = u32(b, 44), ext_start = u32(b, 68), ext_count = u32(b, 72);

  std::vector<uint32_t> fat_ids, ext_ids;
  for (uint32_t k = 0; k < 109; ++k) {
    const uint32_t id = u32(b, 76 + 4 * k);
    if (k < fat_count)
      fat_ids.push_back(id);
    else if (id != kFree)
      return "unused header slot in use";
  }
  const uint32_t beyond = fat_count > 109 ? fat_count - 109 : 0;
  if (ext_count != (beyond + 126) / 127) return "extension block count";
  if (ext_count == 0 && ext_start != kEnd) return "extension start without blocks";
  for (uint32_t e = 0, id = ext_start; e < ext_count; ++e) {
    if (id >= n) return "extension id";
    ext_ids.push_back(id);
    for (uint32_t j = 0; j < 127; ++j) {
      const uint32_t t = u32(b, at(id) + 4 * j);
      if (fat_ids.size() < fat_count)
        fat_ids.push_back(t);
      else if (t != kFree)
        return "unused extension id in use";
    }
    id = u32(b, at(id) + 508);
    if (e + 1 == ext_count && id != kEnd) return "extension chain end";
  }
  std::vector<uint32_t> fat;
  for (uint32_t id : fat_ids) {
    if (id >= n) return "table block id";
    for (uint32_t j = 0; j < 128; ++j) fat.push_back(u32(b, at(id) + 4 * j));
  }
  uint64_t used = 0;
  while (used < fat.size() && fat[used] != kFree) ++used;
  for (uint64_t i = used; i < fat.size(); ++i)
    if (fat[i] != kFree) return "table not compact";
  if (used != n)
    return "file holds " + std::to_string(n) + " blocks, table uses " + std::to_string(used);
  if (fat.size() - used >= 128 && fat_ids.size() > 1) return "a whole free table block";

  std::vector<int> owner(n, 0);
  std::string error;
  auto own = [&](uint32_t id) {
    if (id >= n)
      error = "block id past file";
    else if (owner[id]++)
      error = "block " + std::to_string(id) + " owned twice";
  };
  for (uint32_t id : fat_ids) {
    if (fat[id] != kFat) return "table block not marked";
    own(id);
  }
  for (uint32_t id : ext_ids) {
    if (fat[id] != kExt) return "extension block not marked";
    own(id);
  }
  auto chain = [&](uint32_t start) {
    std::vector<uint32_t> c;
    for (uint32_t id = start; id != kEnd && error.empty(); id = fat[id]) {
      if (id >= n || c.size() > n) {
        error = "broken chain";
        break;
      }
      c.push_back(id);
      own(id);
    }
    return c;
  };
  const std::vector<uint32_t> dir = chain(u32(b, 48));
  const std::vector<uint32_t> minifat_blocks = chain(u32(b, 60));
  if (minifat_blocks.size() != u32(b, 64)) return "small table count";
  if (!error.empty()) return error;
  std::vector<uint32_t> minifat;
  for (uint32_t id : minifat_blocks)
    for (uint32_t j = 0; j < 128; ++j) minifat.push_back(u32(b, at(id) + 4 * j));
  uint64_t small_used = 0;
  while (small_used < minifat.size() && minifat[small_used] != kFree) ++small_used;
  for (uint64_t i = small_used; i < minifat.size(); ++i)
    if (minifat[i] != kFree) return "small table not compact";
  if (minifat.size() - small_used >= 128) return "a whole free small table block";

  struct Entry {
    std::string name;
    uint8_t type;
    uint32_t left, right, child, start, size;
  };
  std::vector<Entry> entries;
  for (uint32_t block : dir) {
    for (int s = 0; s < 4; ++s) {
      const uint64_t o = at(block) + 128 * s;
      Entry e;
      for (int i = 0; i < 32 && b[o + 2 * i] | b[o + 2 * i + 1]; ++i)
        e.name.push_back(static_cast<char>(b[o + 2 * i]));
      e.type = b[o + 66];
      e.left = u32(b, o + 68), e.right = u32(b, o + 72), e.child = u32(b, o + 76);
      e.start = u32(b, o + 116), e.size = u32(b, o + 120);
      entries.push_back(e);
    }
  }
  const Entry& root = entries.at(0);
  if (root.type != 5) return "root type";
  const std::vector<uint32_t> mini_chain = chain(root.start);
  if (root.size != small_used * 64)
    return "root size " + std::to_string(root.size) + " for " + std::to_string(small_used) +
           " small blocks";
  if (mini_chain.size() != (root.size + 511) / 512) return "mini stream length";
  std::vector<char> mini;
  for (uint32_t id : mini_chain)
    mini.insert(mini.end(), b.begin() + at(id), b.begin() + at(id) + 512);
  std::vector<int> small_owner(small_used, 0);

  std::vector<int> reached(entries.size(), 0);
  reached[0] = 1;
  // Walk each storage's sibling tree in order; a reader searching by the
  // published order must meet the names ascending.
  std::vector<std::pair<uint32_t, std::string>> storages{{0, ""}};
  while (!storages.empty() && error.empty()) {
    auto [sid, prefix] = storages.back();
    storages.pop_back();
    std::vector<uint32_t> inorder, stack;
    uint32_t cur = entries[sid].child;
    while ((cur != kFree || !stack.empty()) && error.empty()) {
      while (cur != kFree) {
        if (cur >= entries.size() || reached[cur]++) return "directory link";
        stack.push_back(cur);
        cur = entries[cur].left;
      }
      cur = stack.back();
      stack.pop_back();
      inorder.push_back(cur);
      cur = entries[cur].right;
    }
    for (size_t i = 1; i < inorder.size(); ++i)
      if (!name_before(entries[inorder[i - 1]].name, entries[inorder[i]].name))
        return "sibling order";
    for (uint32_t id : inorder) {
      const Entry& e = entries[id];
      const std::string p = prefix + "\\" + e.name;
      if (e.type == 1) {
        layout.storages.insert(p);
        storages.emplace_back(id, p);
      } else if (e.type == 2) {
        std::vector<char> data;
        if (e.size >= 4096) {
          const std::vector<uint32_t> c = chain(e.start);
          if (c.size() != (e.size + 511) / 512) return "stream chain length of " + p;
          for (uint32_t id2 : c)
            data.insert(data.end(), b.begin() + at(id2), b.begin() + at(id2) + 512);
        } else {
          uint32_t s = e.size == 0 ? kEnd : e.start;
          for (; s != kEnd; s = minifat[s]) {
            if (s >= small_used || small_owner[s]++) return "small chain of " + p;
            data.insert(data.end(), mini.begin() + 64 * s, mini.begin() + 64 * s + 64);
          }
          if (data.size() != (e.size + 63) / 64 * 64) return "small chain length of " + p;
        }
        data.resize(e.size);
        layout.streams[p] = data;
      } else {
        return "entry type in tree";
      }
    }
  }
  if (!error.empty()) return error;
  for (uint64_t i = 0; i < n; ++i)
    if (owner[i] != 1) return "block " + std::to_string(i) + " owned by no chain";
  for (uint64_t s = 0; s < small_used; ++s)
    if (small_owner[s] != 1) return "small block " + std::to_string(s) + " owned by no chain";
  for (size_t i = 0; i < entries.size(); ++i) {
    if (reached[i]) continue;
    const Entry& e = entries[i];
    if (e.type != 0 || e.left != kFree || e.right != kFree || e.child != kFree || !e.name.empty())
      return "unused directory slot not free";
  }
  return "";
}

int run_tool(const std::string& arguments, std::string& output) {
  const std::string command =
      "/usr/bin/python3 '" + source_dir() + "/interop_tool.py' " + arguments + " 2>&1";
  output.clear();
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool tools_present(const std::vector<std::string>& tools, std::string& missing) {
  static std::string probe;
  static int probe_rc = -2;
  if (probe_rc == -2) probe_rc = run_tool("probe", probe);
  missing.clear();
  for (const std::string& t : tools)
    if (probe_rc != 0 || probe.find(t + " yes") == std::string::npos)
      missing += (missing.empty() ? "" : ", ") + t;
  return missing.empty();
}

}  // namespace compound_test
