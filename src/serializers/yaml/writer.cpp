#include <exception>
#include <optional>
#include <string>

#include "base/files/atomic_file.hpp"
#include "base/text/utf8.hpp"
#include "serializers/errors.hpp"
#include "serializers/export/export.hpp"
#include "serializers/yaml/scalars.hpp"
#include "serializers/yaml/yaml.hpp"

namespace serializers {

namespace {

// Keys this long are written in the explicit "? key" form, which has no length limit.
constexpr std::size_t LONGEST_SIMPLE_KEY = 127;

constexpr char HEX_DIGITS[] = "0123456789ABCDEF";

void append_hex(std::string& out, char32_t code, int digits) {
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
    out += HEX_DIGITS[(code >> shift) & 0xF];
}

// Double-quoted YAML scalar in plain ASCII: everything outside printable ASCII is escaped.
void append_double_quoted(std::string& out, std::string_view text) {
  out += '"';
  std::size_t position = 0;
  while (position < text.size()) {
    const auto code = base::text::next_code_point(text, position);
    if (!code) {
      throw ValueError("cannot write a text that is not valid UTF-8 (byte " +
                       std::to_string(position) + " of \"" + std::string(text.substr(0, 40)) +
                       "\")");
    }
    switch (*code) {
      case '"':
        out += "\\\"";
        continue;
      case '\\':
        out += "\\\\";
        continue;
      case 0x00:
        out += "\\0";
        continue;
      case 0x07:
        out += "\\a";
        continue;
      case 0x08:
        out += "\\b";
        continue;
      case 0x09:
        out += "\\t";
        continue;
      case 0x0A:
        out += "\\n";
        continue;
      case 0x0B:
        out += "\\v";
        continue;
      case 0x0C:
        out += "\\f";
        continue;
      case 0x0D:
        out += "\\r";
        continue;
      case 0x1B:
        out += "\\e";
        continue;
      case 0x85:
        out += "\\N";
        continue;
      case 0xA0:
        out += "\\_";
        continue;
      case 0x2028:
        out += "\\L";
        continue;
      case 0x2029:
        out += "\\P";
        continue;
      default:
        break;
    }
    if (*code >= 0x20 && *code <= 0x7E) {
      out += static_cast<char>(*code);
    } else if (*code <= 0xFF) {
      out += "\\x";
      append_hex(out, *code, 2);
    } else if (*code <= 0xFFFF) {
      out += "\\u";
      append_hex(out, *code, 4);
    } else {
      out += "\\U";
      append_hex(out, *code, 8);
    }
  }
  out += '"';
}

bool is_plain_key_character(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '/' || c == '.' || c == '-' || c == ' ';
}

// A key is written plain only when it is made of letters, digits and a few harmless marks, starts
// with a letter, digit, "_" or "/", has no trailing blank, and a YAML 1.1 reader types it as a
// string.
bool key_can_be_plain(std::string_view key) {
  if (key.empty()) return false;
  const char first = key.front();
  if (first == '-' || first == '.' || first == ' ' || key.back() == ' ') return false;
  for (char c : key) {
    if (!is_plain_key_character(c)) return false;
  }
  return yaml_scalars::classify_plain(key) == yaml_scalars::PlainKind::STRING;
}

class Writer {
 public:
  std::string take() { return std::move(out_); }

  // "key:" opening a top-level mapping entry whose value is a non-empty block sequence.
  void list_key(std::string_view key) {
    if (key.size() > LONGEST_SIMPLE_KEY)
      throw ValueError("cannot stream a list under a key longer than " +
                       std::to_string(LONGEST_SIMPLE_KEY) + " characters");
    simple_key(key);
    out_ += ":\n";
  }

  // One item of the sequence that list_key opened, as document() would write it there.
  void list_item(const Document& item) {
    constexpr std::size_t column = 2;
    constexpr std::size_t depth = 2;
    indent(column);
    out_ += '-';
    compact_value(item, column, depth + 1);
  }

  // The entries of a top-level mapping, as document() writes them within the whole mapping;
  // nothing for an empty one.
  void entries(const Document& mapping) {
    if (mapping.empty()) return;
    enter(1);
    mapping_entries(mapping, 0, false, 1);
  }

  void document(const Document& data) {
    if (data.is_object() && !data.empty()) {
      enter(1);
      mapping_entries(data, 0, false, 1);
    } else if (data.is_array() && !data.empty()) {
      enter(1);
      sequence_items(data, 0, false, 1);
    } else {
      scalar(data);
      out_ += '\n';
    }
  }

 private:
  static bool is_open_collection(const Document& node) {
    return (node.is_object() || node.is_array()) && !node.empty();
  }

  static void enter(std::size_t depth) {
    if (depth > MAX_NESTING_DEPTH) {
      throw ValueError("cannot write mappings and sequences nested deeper than " +
                       std::to_string(MAX_NESTING_DEPTH) + " levels");
    }
  }

  void indent(std::size_t columns) { out_.append(columns, ' '); }

  // A key short enough for the simple "key:" form: plain where it reads back as itself.
  void simple_key(std::string_view key) {
    if (key_can_be_plain(key))
      out_ += key;
    else
      append_double_quoted(out_, key);
  }

  void mapping_entries(const Document& mapping, std::size_t column, bool first_line_started,
                       std::size_t depth) {
    bool first = true;
    for (const auto& [key, value] : mapping.items()) {
      if (!(first && first_line_started)) indent(column);
      first = false;
      if (key.size() > LONGEST_SIMPLE_KEY) {
        out_ += "? ";
        append_double_quoted(out_, key);
        out_ += '\n';
        indent(column);
        out_ += ':';
        compact_value(value, column, depth + 1);
      } else {
        simple_key(key);
        out_ += ':';
        value_after_key(value, column, depth + 1);
      }
    }
  }

  void sequence_items(const Document& sequence, std::size_t column, bool first_line_started,
                      std::size_t depth) {
    bool first = true;
    for (const auto& item : sequence) {
      if (!(first && first_line_started)) indent(column);
      first = false;
      out_ += '-';
      compact_value(item, column, depth + 1);
    }
  }

  // A value that follows "key:": collections start on the next line, two columns deeper.
  void value_after_key(const Document& value, std::size_t column, std::size_t depth) {
    if (value.is_object() || value.is_array()) enter(depth);
    if (!is_open_collection(value)) {
      out_ += ' ';
      scalar(value);
      out_ += '\n';
      return;
    }
    out_ += '\n';
    if (value.is_object())
      mapping_entries(value, column + 2, false, depth);
    else
      sequence_items(value, column + 2, false, depth);
  }

  // A value that follows "-" or the ":" of an explicit key: collections start on the same line.
  void compact_value(const Document& value, std::size_t column, std::size_t depth) {
    if (value.is_object() || value.is_array()) enter(depth);
    out_ += ' ';
    if (!is_open_collection(value)) {
      scalar(value);
      out_ += '\n';
      return;
    }
    if (value.is_object())
      mapping_entries(value, column + 2, true, depth);
    else
      sequence_items(value, column + 2, true, depth);
  }

  void scalar(const Document& value) {
    switch (value.type()) {
      case Document::value_t::null:
        out_ += "null";
        return;
      case Document::value_t::boolean:
        out_ += value.get<bool>() ? "true" : "false";
        return;
      case Document::value_t::number_integer:
        out_ += std::to_string(value.get<std::int64_t>());
        return;
      case Document::value_t::number_unsigned:
        out_ += std::to_string(value.get<std::uint64_t>());
        return;
      case Document::value_t::number_float:
        out_ += yaml_scalars::format_float(value.get<double>());
        return;
      case Document::value_t::string:
        append_double_quoted(out_, value.get_ref<const std::string&>());
        return;
      case Document::value_t::object:
        out_ += "{}";
        return;
      case Document::value_t::array:
        out_ += "[]";
        return;
      case Document::value_t::binary: {
        // Only a valid timestamp may stand plain: anything else would read back differently.
        const std::string text = timestamp_text(value);
        if (!yaml_scalars::is_valid_timestamp(text)) {
          throw ValueError("cannot write \"" + text + "\" as a date or timestamp");
        }
        out_ += text;
        return;
      }
      case Document::value_t::discarded:
        break;
    }
    throw TypeError(std::string("cannot write ") + kind_name(value) + " to YAML");
  }

  std::string out_;
};

// The list goes to the temporary file as it comes. A failure to write is kept and reported by
// finish, so that it ends the run where writing the whole file would have, not amid the scan.
class YamlListFile : public ListExport {
 public:
  YamlListFile(std::filesystem::path path, std::string key, Document frame)
      : path_(std::move(path)), key_(std::move(key)), frame_(std::move(frame)) {
    if (!frame_.is_object())
      throw TypeError(std::string("a list is written into a mapping, not ") + kind_name(frame_));
    bool after = false;
    for (auto& [entry_key, value] : frame_.items()) {
      if (entry_key == key_)
        after = true;
      else
        (after ? after_ : before_)[entry_key] = value;
    }
  }

  void append(const Document& item) override {
    if (failure_) return;
    try {
      Writer writer;
      if (!file_) {
        file_.emplace(path_);
        writer.entries(before_);
        writer.list_key(key_);
      }
      writer.list_item(item);
      file_->append(writer.take());
    } catch (...) {
      failure_ = std::current_exception();
      file_.reset();
    }
  }

  void finish() override {
    if (failure_) std::rethrow_exception(failure_);
    if (file_) {
      Writer writer;
      writer.entries(after_);
      file_->append(writer.take());
      file_->commit();
      return;
    }
    Document whole = frame_;
    whole[key_] = Document::array();
    base::files::write_text_atomically(path_, dump_yaml(whole));
  }

 private:
  std::filesystem::path path_;
  std::string key_;
  Document frame_;
  // The frame's entries before and after the list's key.
  Document before_ = Document::object();
  Document after_ = Document::object();
  std::optional<base::files::AtomicFileWriter> file_;
  std::exception_ptr failure_;
};

}  // namespace

std::unique_ptr<ListExport> export_list_to_yaml(const std::filesystem::path& path,
                                                std::string key, Document frame) {
  return std::make_unique<YamlListFile>(path, std::move(key), std::move(frame));
}

std::string dump_yaml(const Document& data) {
  Writer writer;
  writer.document(data);
  return writer.take();
}

void export_to_yaml(const Document& data, const std::filesystem::path& path) {
  if (!data.is_object()) {
    throw TypeError(std::string("export_to_yaml: data must be a mapping, got ") + kind_name(data));
  }
  // The whole text is made before the file is touched, so a value that cannot be written leaves
  // the old file as it was.
  base::files::write_text_atomically(path, dump_yaml(data));
}

}  // namespace serializers
