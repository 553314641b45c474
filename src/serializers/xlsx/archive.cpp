#include "serializers/xlsx/archive.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>
#include <vector>

#include "base/files/input_file.hpp"
#include "base/text/ascii.hpp"
#include "serializers/errors.hpp"
#include "serializers/xlsx/compound_file.hpp"
#include "serializers/xlsx/xlsx.hpp"
#include "untrusted/untrusted.hpp"

namespace serializers::xlsx_detail {

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

namespace {

// A part name as it is looked up: packages ignore letter case, and a backslash is what some
// writers put for the slash.
std::string part_key(std::string_view name) {
  std::string key(name);
  for (char& c : key) c = c == '\\' ? '/' : base::text::lower_case(c);
  return key;
}

// What a file that libzip does not take for a zip archive is, told in the words the operator
// needs: a workbook saved with a password and an older workbook are both compound files.
[[noreturn]] void refuse_non_zip(const std::filesystem::path& name, std::uint64_t size,
                                 const ReadAt& read_at) {
  switch (compound_file_kind(size, read_at)) {
    case CompoundFileKind::encrypted_package:
      throw XLSXError(quoted(name) + " is password-protected: save it without a password first");
    case CompoundFileKind::other:
      throw XLSXError(quoted(name) +
                      " is not a workbook: it is an older binary file (such as an Excel 97-2003 "
                      "workbook), not a zip archive; save it as an .xlsx workbook first");
    case CompoundFileKind::none:
      break;
  }
  throw XLSXError(quoted(name) + " is not a workbook: it is not a zip archive");
}

[[noreturn]] void refuse_file_not_zip(const std::filesystem::path& path) {
  struct Closer {
    int descriptor;
    ~Closer() {
      if (descriptor >= 0) ::close(descriptor);
    }
  } file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
  struct stat status {};
  if (file.descriptor < 0 || ::fstat(file.descriptor, &status) != 0 || !S_ISREG(status.st_mode))
    refuse_non_zip(path, 0, [](std::uint64_t, std::span<char>) { return false; });
  refuse_non_zip(path, static_cast<std::uint64_t>(status.st_size),
                 [&](std::uint64_t offset, std::span<char> into) {
                   std::size_t done = 0;
                   while (done < into.size()) {
                     const ssize_t count =
                         ::pread(file.descriptor, into.data() + done, into.size() - done,
                                 static_cast<off_t>(offset + done));
                     if (count < 0 && errno == EINTR) continue;
                     if (count <= 0) return false;
                     done += static_cast<std::size_t>(count);
                   }
                   return true;
                 });
}

}  // namespace

Archive::Archive(const std::filesystem::path& path) : path_(path) {
  std::optional<base::files::InputFile> file;
  try {
    file = base::files::InputFile::open_if_present(path);
  } catch (const base::files::InputFileError& error) {
    throw OSError("Cannot read " + quoted(path) + ": " + error.reason());
  }
  if (!file) throw FileNotFoundError("No such file or directory: " + quoted(path));

  int code = 0;
  const auto open_descriptor = [&](base::files::InputFile opened, int flags) {
    const int descriptor = opened.release();
    // libzip takes the descriptor over when it opens the archive, and leaves it alone when not.
    archive_ = zip_fdopen(descriptor, flags, &code);
    if (archive_ != nullptr) return 0;
    const int system_error = errno;
    ::close(descriptor);
    return system_error;
  };
  int system_error = open_descriptor(std::move(*file), ZIP_CHECKCONS);
  // libzip's consistency check stops at a name it meets twice without saying which; the archive
  // is opened again without it only to name the part.
  if (archive_ == nullptr && code == ZIP_ER_EXISTS) {
    if (std::optional<base::files::InputFile> again = base::files::InputFile::open_if_present(path))
      system_error = open_descriptor(std::move(*again), 0);
  }
  if (archive_ != nullptr) {
    index_parts();
    return;
  }
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
      refuse_file_not_zip(path);
    default:
      throw XLSXError(quoted(path) + " is not a readable workbook: " + zip_error_text(code));
  }
}

Archive::Archive(std::string_view bytes, const std::filesystem::path& name) : path_(name) {
  const auto open = [&](zip_flags_t flags) {
    zip_error_t error;
    zip_error_init(&error);
    // An empty buffer is still a source: libzip then reports that it is not a zip archive.
    zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
    if (source != nullptr) {
      archive_ = zip_open_from_source(source, ZIP_RDONLY | flags, &error);
      // On failure the source still belongs to the caller.
      if (archive_ == nullptr) zip_source_free(source);
    }
    const int code = zip_error_code_zip(&error);
    zip_error_fini(&error);
    return code;
  };
  int code = open(ZIP_CHECKCONS);
  if (archive_ == nullptr && code == ZIP_ER_EXISTS) code = open(0);
  if (archive_ != nullptr) {
    index_parts();
    return;
  }
  if (code == ZIP_ER_NOZIP) {
    refuse_non_zip(name, bytes.size(), [&](std::uint64_t offset, std::span<char> into) {
      if (offset > bytes.size() || into.size() > bytes.size() - offset) return false;
      std::memcpy(into.data(), bytes.data() + offset, into.size());
      return true;
    });
  }
  throw XLSXError(quoted(name) + " is not a readable workbook: " + zip_error_text(code));
}

Archive::~Archive() {
  // Opened read-only: discarding cannot lose anything.
  if (archive_ != nullptr) zip_discard(archive_);
}

void Archive::index_parts() {
  const zip_int64_t entries = zip_get_num_entries(archive_, 0);
  for (zip_int64_t index = 0; index < entries; ++index) {
    const char* name = zip_get_name(archive_, static_cast<zip_uint64_t>(index), 0);
    if (name == nullptr) continue;
    const std::string_view shown(name);
    if (shown.empty() || shown.back() == '/' || shown.back() == '\\') continue;  // a folder
    if (!parts_.emplace(part_key(shown), static_cast<std::uint64_t>(index)).second) {
      // The name as stored, not as libzip's guess at its encoding shows it, escaped.
      const char* stored = zip_get_name(archive_, static_cast<zip_uint64_t>(index), ZIP_FL_ENC_RAW);
      const std::string message = quoted(path_) + " is not a readable workbook: it holds the part '" +
                                  untrusted::printable(stored != nullptr ? stored : name) +
                                  "' twice";
      zip_discard(archive_);
      archive_ = nullptr;
      throw XLSXError(message);
    }
  }
}

const std::uint64_t* Archive::find(std::string_view part) const {
  const auto found = parts_.find(part_key(part));
  return found == parts_.end() ? nullptr : &found->second;
}

bool Archive::has(std::string_view part) const { return find(part) != nullptr; }

void Archive::stream(std::string_view part, std::uint64_t max_bytes,
                     const std::function<void(std::string_view bytes)>& consume) const {
  const std::string name(part);
  const auto where = [&] { return "part " + name + " of workbook " + quoted(path_); };
  const std::uint64_t* found = find(name);
  if (found == nullptr)
    throw XLSXError(quoted(path_) + " is not a readable workbook: it has no part " + name);
  const auto index = static_cast<zip_uint64_t>(*found);

  zip_stat_t stat;
  zip_stat_init(&stat);
  if (zip_stat_index(archive_, index, 0, &stat) == 0 &&
      (stat.valid & ZIP_STAT_SIZE) && stat.size > max_bytes) {
    throw XLSXError(where() + " is too large: " + std::to_string(stat.size) +
                    " bytes uncompressed, at most " + std::to_string(max_bytes) + " are read");
  }
  std::unique_ptr<zip_file_t, ZipFileCloser> file(
      zip_fopen_index(archive_, index, 0));
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

}  // namespace serializers::xlsx_detail
