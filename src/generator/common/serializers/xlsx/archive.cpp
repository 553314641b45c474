#include "generator/common/serializers/xlsx/archive.hpp"

#include <unistd.h>
#include <zip.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>
#include <vector>

#include "base/files/input_file.hpp"
#include "generator/common/errors.hpp"
#include "generator/common/serializers/xlsx/xlsx.hpp"

namespace generator::serializers::xlsx_detail {

namespace {

std::string zip_error_text(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  std::string text = zip_error_strerror(&error);
  zip_error_fini(&error);
  return text;
}

struct ZipFileCloser {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};

constexpr std::size_t READ_CHUNK_BYTES = 64 * 1024;

}  // namespace

std::string quoted(const std::filesystem::path& path) {
  return std::string(1, '\'').append(path.string()).append(1, '\'');
}

Archive::Archive(const std::filesystem::path& path) : path_(path) {
  std::optional<base::files::InputFile> file;
  try {
    file = base::files::InputFile::open_if_present(path);
  } catch (const base::files::InputFileError& error) {
    throw OSError("Cannot read " + quoted(path) + ": " + error.reason());
  }
  if (!file) throw FileNotFoundError("No such file or directory: " + quoted(path));

  int code = 0;
  const int descriptor = file->release();
  // libzip takes the descriptor over when it opens the archive, and leaves it alone when not.
  archive_ = zip_fdopen(descriptor, ZIP_CHECKCONS, &code);
  if (archive_ != nullptr) return;
  const int system_error = errno;
  ::close(descriptor);
  switch (code) {
    case ZIP_ER_OPEN:
    case ZIP_ER_READ:
    case ZIP_ER_SEEK:
    case ZIP_ER_TELL: {
      throw OSError("Cannot read " + quoted(path) + ": " + zip_error_text(code) +
                    (system_error != 0 ? std::string(" (") + std::strerror(system_error) + ")"
                                       : std::string()));
    }
    case ZIP_ER_NOZIP:
      throw XLSXError(quoted(path) + " is not a workbook: it is not a zip archive");
    default:
      throw XLSXError(quoted(path) + " is not a readable workbook: " + zip_error_text(code));
  }
}

Archive::Archive(std::string_view bytes, const std::filesystem::path& name) : path_(name) {
  zip_error_t error;
  zip_error_init(&error);
  // An empty buffer is still a source: libzip then reports that it is not a zip archive.
  zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
  if (source != nullptr) {
    archive_ = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error);
    // On failure the source still belongs to the caller.
    if (archive_ == nullptr) zip_source_free(source);
  }
  const int code = zip_error_code_zip(&error);
  zip_error_fini(&error);
  if (archive_ != nullptr) return;
  if (code == ZIP_ER_NOZIP)
    throw XLSXError(quoted(name) + " is not a workbook: it is not a zip archive");
  throw XLSXError(quoted(name) + " is not a readable workbook: " + zip_error_text(code));
}

Archive::~Archive() {
  // Opened read-only: discarding cannot lose anything.
  if (archive_ != nullptr) zip_discard(archive_);
}

bool Archive::has(std::string_view part) const {
  return zip_name_locate(archive_, std::string(part).c_str(), ZIP_FL_NOCASE) >= 0;
}

void Archive::stream(std::string_view part, std::uint64_t max_bytes,
                     const std::function<void(std::string_view bytes)>& consume) const {
  const std::string name(part);
  const auto where = [&] { return "part " + name + " of workbook " + quoted(path_); };
  const zip_int64_t index = zip_name_locate(archive_, name.c_str(), ZIP_FL_NOCASE);
  if (index < 0)
    throw XLSXError(quoted(path_) + " is not a readable workbook: it has no part " + name);

  zip_stat_t stat;
  zip_stat_init(&stat);
  if (zip_stat_index(archive_, static_cast<zip_uint64_t>(index), 0, &stat) == 0 &&
      (stat.valid & ZIP_STAT_SIZE) && stat.size > max_bytes) {
    throw XLSXError(where() + " is too large: " + std::to_string(stat.size) +
                    " bytes uncompressed, at most " + std::to_string(max_bytes) + " are read");
  }
  std::unique_ptr<zip_file_t, ZipFileCloser> file(
      zip_fopen_index(archive_, static_cast<zip_uint64_t>(index), 0));
  if (!file) throw XLSXError(where() + " cannot be read: " + zip_strerror(archive_));

  // The declared size is not trusted: the bytes are counted as they come.
  std::vector<char> chunk(READ_CHUNK_BYTES);
  std::uint64_t total = 0;
  for (;;) {
    const zip_int64_t count = zip_fread(file.get(), chunk.data(), chunk.size());
    if (count < 0) throw XLSXError(where() + " is corrupt: " + zip_file_strerror(file.get()));
    if (count == 0) break;
    total += static_cast<std::uint64_t>(count);
    if (total > max_bytes) {
      throw XLSXError(where() + " is too large: more than " + std::to_string(max_bytes) +
                      " bytes uncompressed");
    }
    consume(std::string_view(chunk.data(), static_cast<std::size_t>(count)));
  }
}

}  // namespace generator::serializers::xlsx_detail
