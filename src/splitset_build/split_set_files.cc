#include "splitset_build/split_set_files.h"

#include "common/sink.h"

namespace vellum {

Status write_whole_file(const std::string& dir, const std::string& name, std::string_view bytes) {
  Result<FileSink> file = FileSink::create(join_path(dir, name));
  if (!file.ok()) return file.error();
  Status written = file->append(bytes);
  Status closed = file->close();
  VELLUM_RETURN_IF_ERROR(written);
  return closed;
}

Status write_files(const std::string& dir, const std::vector<const NamedBytes*>& files) {
  VELLUM_RETURN_IF_ERROR(create_dirs(dir));
  for (const NamedBytes* f : files) VELLUM_RETURN_IF_ERROR(write_whole_file(dir, f->name, f->bytes));
  return Status();
}

}  // namespace vellum
