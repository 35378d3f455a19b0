#include "read/read_target.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>

#include <algorithm>
#include <vector>

#include "facet/vlsf_format.h"
#include "index/record_format.h"
#include "index/vls_format.h"
#include "read/dataset_check.h"
#include "splitset/manifest_format.h"

namespace vellum {

namespace {

Problem not_readable(const std::string& path, std::string what) {
  return Problem{path, "path", 0, std::move(what)};
}

bool ends_with(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

Checked<std::vector<std::string>> list_directory(const std::string& dir) {
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return not_readable(dir, "cannot list the directory");
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
  ::closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

Checked<Target> resolve_directory(const std::string& dir) {
  VELLUM_CHECKED_ASSIGN(std::vector<std::string> names, list_directory(dir));
  auto has = [&](const char* n) { return std::binary_search(names.begin(), names.end(), n); };
  if (has(kDatasetRecordIndex) || has(kDatasetIndex)) {
    return Target{TargetKind::kDataset, dir, "", directory_reader(dir)};
  }
  std::vector<std::string> manifests;
  for (const std::string& n : names) {
    if (ends_with(n, ".vlss")) manifests.push_back(n);
  }
  if (manifests.size() == 1) return Target{TargetKind::kSplitSet, dir, manifests[0], directory_reader(dir)};
  if (manifests.size() > 1) {
    return not_readable(dir, "holds " + std::to_string(manifests.size()) +
                                 " manifests; name the .vlss file to read");
  }
  return not_readable(dir, "is neither a dataset directory nor a split set (no records.idx, "
                           "index.vls or .vlss manifest)");
}

// The magic is all that tells formats apart; big files are not read whole.
Checked<std::string> read_head(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return not_readable(path, "cannot be read: " + Error::from_errno(errno).describe());
  char buf[4];
  ssize_t n;
  do {
    n = ::read(fd, buf, sizeof buf);
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  if (n < 0) return not_readable(path, "cannot be read");
  return std::string(buf, static_cast<size_t>(n));
}

void split_path(const std::string& path, std::string* dir, std::string* name) {
  const size_t slash = path.rfind('/');
  *dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  *name = slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::optional<TargetKind> kind_of_bytes(std::string_view head) {
  const std::string_view magic = head.substr(0, 4);
  if (magic == kVlsMagic) return TargetKind::kTextIndex;
  if (magic == kVlsfMagic) return TargetKind::kFacets;
  if (magic == kManifestMagic) return TargetKind::kSplitSet;
  if (magic == "VLTI") return TargetKind::kTermIndex;
  if (magic == "VLVI") return TargetKind::kVectorIndex;
  if (magic == kRecordIndexMagic) return TargetKind::kRecords;
  return std::nullopt;
}

Checked<Target> resolve_target(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return not_readable(path, "does not exist");
  if (S_ISDIR(st.st_mode)) return resolve_directory(path);
  Target t;
  split_path(path, &t.dir, &t.name);
  t.read = directory_reader(t.dir);
  if (t.name == kDatasetRecords) {
    t.kind = TargetKind::kRecords;
    t.name = kDatasetRecordIndex;
    return t;
  }
  VELLUM_CHECKED_ASSIGN(std::string head, read_head(path));
  std::optional<TargetKind> kind = kind_of_bytes(head);
  if (!kind) return Problem{path, "header", 0, "unknown magic: not a file this tool reads"};
  t.kind = *kind;
  return t;
}

const char* target_kind_name(TargetKind kind) {
  switch (kind) {
    case TargetKind::kDataset: return "dataset";
    case TargetKind::kSplitSet: return "split set";
    case TargetKind::kTextIndex: return "VLS text index";
    case TargetKind::kFacets: return "VLSF facet sidecar";
    case TargetKind::kTermIndex: return "VLTI term index";
    case TargetKind::kVectorIndex: return "VLVI vector index";
    case TargetKind::kRecords: return "record store";
  }
  return "?";
}

}  // namespace vellum
