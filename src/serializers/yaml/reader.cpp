#include <unistd.h>
#include <yaml.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <unordered_set>
#include <vector>

#include "base/files/input_file.hpp"
#include "serializers/errors.hpp"
#include "serializers/yaml/scalars.hpp"
#include "serializers/yaml/yaml.hpp"

namespace serializers {

namespace {

using yaml_scalars::PlainKind;

constexpr std::string_view TAG_PREFIX = "tag:yaml.org,2002:";

[[noreturn]] void throw_too_large(const std::filesystem::path& path, std::uint64_t max_bytes,
                                  const std::string& what) {
  throw ValueError("Cannot read " + path.string() + ": it is larger than " +
                   std::to_string(max_bytes >> 20) + " MiB, the limit of " + what);
}

// Where a streamed reading takes its bytes from: a file read from its start, counted against
// the file's bound as they come.
struct FileInput {
  int descriptor;
  const std::filesystem::path& path;
  std::uint64_t max_bytes;
  std::string what;
  std::uint64_t read = 0;
  std::exception_ptr failure;
};

int read_file_input(void* data, unsigned char* buffer, std::size_t size, std::size_t* size_read) {
  auto& input = *static_cast<FileInput*>(data);
  for (;;) {
    const ssize_t count = ::read(input.descriptor, buffer, size);
    if (count < 0 && errno == EINTR) continue;
    try {
      if (count < 0) {
        throw OSError("Cannot read " + input.path.string() + ": " + std::strerror(errno));
      }
      input.read += static_cast<std::uint64_t>(count);
      if (input.read > input.max_bytes) throw_too_large(input.path, input.max_bytes, input.what);
    } catch (...) {
      // libyaml is C: the failure is kept and rethrown once it has returned.
      input.failure = std::current_exception();
      return 0;
    }
    *size_read = static_cast<std::size_t>(count);
    return 1;
  }
}

class Parser {
 public:
  Parser(std::string_view text, const std::string& source_name) : source_(source_name) {
    if (yaml_parser_initialize(&parser_) == 0)
      throw YAMLError(source_ + ": cannot start the YAML reader");
    yaml_parser_set_input_string(&parser_, reinterpret_cast<const unsigned char*>(text.data()),
                                 text.size());
  }
  Parser(FileInput& input, const std::string& source_name) : source_(source_name), input_(&input) {
    if (yaml_parser_initialize(&parser_) == 0)
      throw YAMLError(source_ + ": cannot start the YAML reader");
    yaml_parser_set_input(&parser_, &read_file_input, &input);
  }
  ~Parser() { yaml_parser_delete(&parser_); }
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  /// The next event; the caller owns it (release with yaml_event_delete).
  void next(yaml_event_t& event) {
    if (yaml_parser_parse(&parser_, &event) == 0) fail_with_parser_error();
  }

  [[noreturn]] void fail(const yaml_mark_t& mark, const std::string& problem) const {
    throw YAMLError(where(mark) + ": " + problem);
  }

  std::string where(const yaml_mark_t& mark) const {
    return source_ + ": line " + std::to_string(mark.line + 1) + ", column " +
           std::to_string(mark.column + 1);
  }

 private:
  [[noreturn]] void fail_with_parser_error() const {
    if (input_ != nullptr && input_->failure) std::rethrow_exception(input_->failure);
    const std::string problem = parser_.problem != nullptr ? parser_.problem : "malformed YAML";
    if (parser_.error == YAML_READER_ERROR) {
      throw YAMLError(source_ + ": byte " + std::to_string(parser_.problem_offset) + ": " +
                      problem);
    }
    if (parser_.error == YAML_MEMORY_ERROR)
      throw YAMLError(source_ + ": out of memory while reading YAML");
    std::string message = where(parser_.problem_mark) + ": " + problem;
    if (parser_.context != nullptr) {
      message += " (" + std::string(parser_.context) + " that starts at line " +
                 std::to_string(parser_.context_mark.line + 1) + ", column " +
                 std::to_string(parser_.context_mark.column + 1) + ")";
    }
    throw YAMLError(message);
  }

  std::string source_;
  FileInput* input_ = nullptr;
  yaml_parser_t parser_{};
};

// Owns one event for the duration of a loop turn.
struct Event {
  yaml_event_t event{};
  Event() = default;
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  ~Event() { yaml_event_delete(&event); }
};

// Appends a key known to be new. The ordered object looks keys up one by one, which would make
// reading a mapping with many keys take quadratic time.
void append_new_entry(Document& mapping, std::string key, Document value) {
  auto& entries =
      static_cast<Document::object_t::Container&>(mapping.get_ref<Document::object_t&>());
  entries.emplace_back(std::move(key), std::move(value));
}

std::string text_of(const yaml_char_t* text) {
  return text == nullptr ? "" : reinterpret_cast<const char*>(text);
}

// A finished node with its size, for the alias budget, and its text when it is a scalar (for keys).
struct Node {
  Document value;
  std::size_t nodes = 1;
  std::size_t bytes = 0;
  std::optional<std::string> scalar_text;
  bool is_merge_key = false;
  yaml_mark_t mark{};
};

struct Frame {
  bool is_mapping = false;
  // The list whose items a streamed reading hands over instead of keeping.
  bool streamed = false;
  Document value;
  std::string anchor;
  std::size_t nodes = 1;
  std::size_t bytes = 0;
  // Mapping state: the key read and waiting for its value.
  std::optional<std::string> key;
  std::unordered_set<std::string> keys;
  bool key_is_merge = false;
  yaml_mark_t key_mark{};
  // Key-value pairs that merge keys bring in, in the order they take effect.
  std::vector<std::pair<std::string, Document>> merged;
};

class Builder {
 public:
  Builder(Parser& parser, IntegerSpellings* spellings) : parser_(parser), spellings_(spellings) {}
  // A builder that hands the items of the list under the top mapping's `key` to `on_item`.
  Builder(Parser& parser, std::string_view key, const ListItemHandler& on_item)
      : parser_(parser), spellings_(nullptr), streamed_key_(key), on_item_(&on_item) {}

  Document read_document() {
    for (;;) {
      Event event;
      parser_.next(event.event);
      const yaml_event_t& e = event.event;
      check_held(e);
      node_end_ = e.end_mark.index;
      switch (e.type) {
        case YAML_SCALAR_EVENT:
          add(scalar(e));
          break;
        case YAML_ALIAS_EVENT:
          add(alias(e));
          break;
        case YAML_SEQUENCE_START_EVENT:
          open(e, false);
          break;
        case YAML_MAPPING_START_EVENT:
          open(e, true);
          break;
        case YAML_SEQUENCE_END_EVENT:
        case YAML_MAPPING_END_EVENT:
          add(close());
          break;
        case YAML_DOCUMENT_END_EVENT:
          return std::move(root_);
        default:
          break;
      }
    }
  }

  // Whether the items of the streamed list were handed over as they were read.
  [[nodiscard]] bool streamed() const noexcept { return streamed_; }

 private:
  // What is held whole at once (the document, less the items of a streamed list already handed
  // over) spans at most MAX_FILE_BYTES of the text, whatever the size of the file.
  void check_held(const yaml_event_t& e) {
    if (e.end_mark.index - released_ <= MAX_FILE_BYTES) return;
    parser_.fail(e.start_mark, "more than " + std::to_string(MAX_FILE_BYTES >> 20) +
                                   " MiB of the text would be held at once (the document" +
                                   (streamed_key_.empty() ? std::string()
                                                          : " less the items of " +
                                                                std::string(streamed_key_)) +
                                   "); refusing to read further");
  }

  void check_collection_tag(const yaml_event_t& e, bool is_mapping) {
    const yaml_char_t* raw = is_mapping ? e.data.mapping_start.tag : e.data.sequence_start.tag;
    const std::string tag = text_of(raw);
    if (tag.empty() || tag == "!") return;
    if (tag == std::string(TAG_PREFIX) + (is_mapping ? "map" : "seq")) return;
    parser_.fail(e.start_mark, "the tag " + tag + " is not supported on a " +
                                   (is_mapping ? "mapping" : "sequence"));
  }

  void open(const yaml_event_t& e, bool is_mapping) {
    check_collection_tag(e, is_mapping);
    if (!stack_.empty() && stack_.back().is_mapping && !stack_.back().key) {
      parser_.fail(e.start_mark, "a mapping key must be a scalar, not a " +
                                     std::string(is_mapping ? "mapping" : "sequence"));
    }
    if (stack_.size() >= MAX_NESTING_DEPTH) {
      parser_.fail(e.start_mark, "mappings and sequences nested deeper than " +
                                     std::to_string(MAX_NESTING_DEPTH) + " levels");
    }
    Frame frame;
    frame.is_mapping = is_mapping;
    frame.streamed = !is_mapping && on_item_ != nullptr && !streamed_ && stack_.size() == 1 &&
                     stack_.front().is_mapping && stack_.front().key == streamed_key_;
    if (frame.streamed) streamed_ = true;
    frame.value = is_mapping ? Document::object() : Document::array();
    frame.anchor = text_of(is_mapping ? e.data.mapping_start.anchor : e.data.sequence_start.anchor);
    if (!frame.anchor.empty()) start_anchor(frame.anchor, e.start_mark);
    stack_.push_back(std::move(frame));
    marks_.push_back(e.start_mark);
  }

  Node close() {
    Frame frame = std::move(stack_.back());
    stack_.pop_back();
    Node node;
    node.mark = marks_.back();
    marks_.pop_back();
    if (frame.is_mapping && !frame.merged.empty()) {
      // Keys written in the mapping itself win over merged ones; a key keeps its first position.
      std::vector<std::pair<std::string, Document>> combined;
      std::unordered_map<std::string, std::size_t> position;
      const auto put = [&](const std::string& key, Document value) {
        const auto [found, added] = position.emplace(key, combined.size());
        if (added)
          combined.emplace_back(key, std::move(value));
        else
          combined[found->second].second = std::move(value);
      };
      for (auto& [key, value] : frame.merged) put(key, std::move(value));
      for (auto& [key, value] : frame.value.items()) put(key, std::move(value));
      frame.value = Document::object();
      for (auto& [key, value] : combined)
        append_new_entry(frame.value, std::move(key), std::move(value));
    }
    node.value = std::move(frame.value);
    node.nodes = frame.nodes;
    node.bytes = frame.bytes;
    if (!frame.anchor.empty()) finish_anchor(frame.anchor, node);
    return node;
  }

  Node scalar(const yaml_event_t& e) {
    Node node;
    node.mark = e.start_mark;
    const auto& data = e.data.scalar;
    std::string text(reinterpret_cast<const char*>(data.value), data.length);
    const std::string tag = text_of(data.tag);
    node.bytes = text.size();
    const bool plain = data.style == YAML_PLAIN_SCALAR_STYLE;
    if (!tag.empty() && tag != "!") {
      node.value = tagged_scalar(e, tag, text);
      node.is_merge_key = tag == std::string(TAG_PREFIX) + "merge";
    } else if (plain && tag.empty()) {
      node.value = plain_scalar(e, text);
      node.is_merge_key = text == "<<";
    } else {
      node.value = text;
    }
    node.scalar_text = std::move(text);
    const std::string anchor = text_of(data.anchor);
    if (!anchor.empty()) {
      start_anchor(anchor, e.start_mark);
      finish_anchor(anchor, node);
    }
    return node;
  }

  Document plain_scalar(const yaml_event_t& e, const std::string& text) {
    switch (yaml_scalars::classify_plain(text)) {
      case PlainKind::NULL_VALUE:
        return nullptr;
      case PlainKind::BOOLEAN:
        return *yaml_scalars::construct_bool(text);
      case PlainKind::INTEGER: {
        auto value = yaml_scalars::construct_int(text);
        if (!value)
          parser_.fail(e.start_mark, "the integer " + text + " is malformed or out of range");
        note_spelling(*value, text);
        return std::move(*value);
      }
      case PlainKind::FLOAT:
        return *yaml_scalars::construct_float(text);
      case PlainKind::TIMESTAMP: {
        if (!yaml_scalars::is_valid_timestamp(text))
          parser_.fail(e.start_mark, "the date " + text + " is not a real date or time");
        return make_timestamp(text);
      }
      case PlainKind::MERGE:
      case PlainKind::STRING:
        break;
    }
    return text;
  }

  Document tagged_scalar(const yaml_event_t& e, const std::string& tag, const std::string& text) {
    const std::string name = tag.rfind(TAG_PREFIX, 0) == 0 ? tag.substr(TAG_PREFIX.size()) : "";
    const auto refuse = [&](const char* kind) {
      parser_.fail(e.start_mark, "the value " + text + " tagged " + tag + " is not " + kind);
    };
    if (name == "str" || name == "merge") return text;
    if (name == "null") return nullptr;
    if (name == "bool") {
      const auto value = yaml_scalars::construct_bool(text);
      if (!value) refuse("a boolean");
      return *value;
    }
    if (name == "int") {
      auto value = yaml_scalars::construct_int(text);
      if (!value) refuse("an integer in the 64-bit range");
      note_spelling(*value, text);
      return std::move(*value);
    }
    if (name == "float") {
      const auto value = yaml_scalars::construct_float(text);
      if (!value) refuse("a float");
      return *value;
    }
    if (name == "timestamp") {
      if (!yaml_scalars::is_valid_timestamp(text)) refuse("a date or timestamp");
      return make_timestamp(text);
    }
    parser_.fail(e.start_mark, "the tag " + tag + " is not supported");
  }

  void note_spelling(const Document& value, const std::string& text) {
    if (spellings_ == nullptr) return;
    std::string digits = value.dump();
    if (digits != text) spellings_->emplace(std::move(digits), text);
  }

  Node alias(const yaml_event_t& e) {
    const std::string name = text_of(e.data.alias.anchor);
    if (open_anchors_.count(name) != 0) {
      parser_.fail(e.start_mark, "the alias *" + name + " refers to a node that contains it");
    }
    const auto found = anchors_.find(name);
    if (found == anchors_.end()) parser_.fail(e.start_mark, "found undefined alias *" + name);
    const Node& anchored = found->second;
    expanded_nodes_ += anchored.nodes;
    expanded_bytes_ += anchored.bytes;
    if (expanded_nodes_ > MAX_ALIAS_EXPANSION_NODES ||
        expanded_bytes_ > MAX_ALIAS_EXPANSION_BYTES) {
      parser_.fail(e.start_mark, "aliases expand to more than " +
                                     std::to_string(MAX_ALIAS_EXPANSION_NODES) + " nodes or " +
                                     std::to_string(MAX_ALIAS_EXPANSION_BYTES >> 20) +
                                     " MiB of text; refusing to read further");
    }
    Node node = anchored;
    node.mark = e.start_mark;
    return node;
  }

  void start_anchor(const std::string& name, const yaml_mark_t& mark) {
    const auto found = anchor_marks_.find(name);
    if (found != anchor_marks_.end()) {
      parser_.fail(mark, "found duplicate anchor &" + name + "; first occurrence at " +
                             parser_.where(found->second));
    }
    anchor_marks_.emplace(name, mark);
    open_anchors_.insert(name);
  }

  void finish_anchor(const std::string& name, const Node& node) {
    open_anchors_.erase(name);
    // Anchored nodes are kept for aliases to the end of the document, past a streamed list's
    // items too: they share the budget of what aliases may copy.
    anchored_nodes_ += node.nodes;
    anchored_bytes_ += node.bytes;
    if (anchored_nodes_ > MAX_ALIAS_EXPANSION_NODES || anchored_bytes_ > MAX_ALIAS_EXPANSION_BYTES) {
      parser_.fail(node.mark, "anchors hold more than " +
                                  std::to_string(MAX_ALIAS_EXPANSION_NODES) + " nodes or " +
                                  std::to_string(MAX_ALIAS_EXPANSION_BYTES >> 20) +
                                  " MiB of text; refusing to read further");
    }
    Node stored = node;
    stored.is_merge_key = false;
    anchors_.emplace(name, std::move(stored));
  }

  void merge_into(Frame& frame, const Node& node) {
    const auto take = [&frame](const Document& mapping) {
      for (const auto& [key, value] : mapping.items()) frame.merged.emplace_back(key, value);
    };
    if (node.value.is_object()) {
      take(node.value);
      return;
    }
    if (node.value.is_array()) {
      // Earlier mappings of the list win, so they are applied last.
      for (auto item = node.value.rbegin(); item != node.value.rend(); ++item) {
        if (!item->is_object())
          parser_.fail(node.mark, "a merge key (<<) takes a mapping or a list of mappings");
        take(*item);
      }
      return;
    }
    parser_.fail(node.mark, "a merge key (<<) takes a mapping or a list of mappings, not " +
                                std::string(kind_name(node.value)));
  }

  void add(Node node) {
    if (stack_.empty()) {
      root_ = std::move(node.value);
      return;
    }
    Frame& parent = stack_.back();
    if (parent.streamed) {
      (*on_item_)(std::move(node.value));
      released_ = node_end_;
      return;
    }
    parent.nodes += node.nodes;
    parent.bytes += node.bytes;
    if (!parent.is_mapping) {
      parent.value.push_back(std::move(node.value));
      return;
    }
    if (!parent.key) {
      if (!node.scalar_text) parser_.fail(node.mark, "a mapping key must be a scalar");
      parent.key = std::move(*node.scalar_text);
      parent.key_is_merge = node.is_merge_key;
      parent.key_mark = node.mark;
      return;
    }
    if (parent.key_is_merge) {
      merge_into(parent, node);
    } else if (!parent.keys.insert(*parent.key).second) {
      parser_.fail(parent.key_mark, "duplicate key \"" + *parent.key + "\" in a mapping");
    } else {
      append_new_entry(parent.value, std::move(*parent.key), std::move(node.value));
    }
    parent.key.reset();
  }

  Parser& parser_;
  IntegerSpellings* spellings_;
  Document root_;
  std::vector<Frame> stack_;
  std::vector<yaml_mark_t> marks_;
  std::unordered_map<std::string, Node> anchors_;
  std::unordered_map<std::string, yaml_mark_t> anchor_marks_;
  std::unordered_set<std::string> open_anchors_;
  std::size_t expanded_nodes_ = 0;
  std::size_t expanded_bytes_ = 0;
  std::size_t anchored_nodes_ = 0;
  std::size_t anchored_bytes_ = 0;
  std::string_view streamed_key_;
  const ListItemHandler* on_item_ = nullptr;
  bool streamed_ = false;
  // Where the text held so far begins (after the items handed over), and where the current
  // event ends.
  std::size_t released_ = 0;
  std::size_t node_end_ = 0;
};

}  // namespace

std::string read_yaml_file(const std::filesystem::path& path) {
  std::optional<base::files::InputFile> file = base::files::InputFile::open_if_present(path);
  if (!file) throw FileNotFoundError("No such file: " + path.string());
  std::optional<std::string> contents = file->read_up_to(MAX_FILE_BYTES);
  if (!contents) {
    throw_too_large(path, MAX_FILE_BYTES, "a YAML file");
  }
  return std::move(*contents);
}

YamlFile::YamlFile(std::filesystem::path path, std::uint64_t max_bytes, std::string what)
    : path_(std::move(path)), max_bytes_(max_bytes), what_(std::move(what)) {
  // Without blocking: a FIFO that nobody writes would otherwise hold the open for ever.
  std::optional<base::files::InputFile> file = base::files::InputFile::open_if_present(path_);
  if (!file) throw FileNotFoundError("No such file: " + path_.string());
  descriptor_ = file->release();
}

YamlFile::~YamlFile() { ::close(descriptor_); }

namespace {

// The document of `parser` with the items of the list under `key` handed to `on_item`; a list
// that reached the document otherwise (through an alias or a merge key) is handed over whole at
// the end.
Document stream_list(Parser& parser, const std::string& source_name, std::string_view key,
                     const ListItemHandler& on_item) {
  Event stream_start;
  parser.next(stream_start.event);
  Event first;
  parser.next(first.event);
  if (first.event.type == YAML_STREAM_END_EVENT) return nullptr;
  Builder builder(parser, key, on_item);
  Document document = builder.read_document();
  Event after;
  parser.next(after.event);
  if (after.event.type != YAML_STREAM_END_EVENT) {
    parser.fail(after.event.start_mark, "expected a single document, but found another document");
  }
  if (!document.is_object() && !document.is_null()) {
    throw TypeError("Expected a mapping at the top of " + source_name + ", got " +
                    kind_name(document));
  }
  if (!builder.streamed() && document.is_object()) {
    const auto list = document.find(key);
    if (list != document.end() && list->is_array()) {
      Document items = std::exchange(*list, Document::array());
      for (Document& item : items) on_item(std::move(item));
    }
  }
  return document;
}

}  // namespace

Document stream_yaml_list(const YamlFile& file, std::string_view key,
                          const ListItemHandler& on_item) {
  if (::lseek(file.descriptor_, 0, SEEK_SET) != 0)
    throw OSError("Cannot read " + file.path_.string() + ": " + std::strerror(errno));
  FileInput input{file.descriptor_, file.path_, file.max_bytes_, file.what_, 0, nullptr};
  Parser parser(input, file.path_.string());
  return stream_list(parser, file.path_.string(), key, on_item);
}

Document stream_yaml_list_text(std::string_view text, const std::string& source_name,
                               std::string_view key, const ListItemHandler& on_item) {
  Parser parser(text, source_name);
  return stream_list(parser, source_name, key, on_item);
}

Document parse_yaml(std::string_view text, const std::string& source_name,
                    IntegerSpellings* spellings) {
  Parser parser(text, source_name);
  Event stream_start;
  parser.next(stream_start.event);
  Event first;
  parser.next(first.event);
  if (first.event.type == YAML_STREAM_END_EVENT) return nullptr;
  Builder builder(parser, spellings);
  Document document = builder.read_document();
  Event after;
  parser.next(after.event);
  if (after.event.type != YAML_STREAM_END_EVENT) {
    parser.fail(after.event.start_mark, "expected a single document, but found another document");
  }
  return document;
}

Document load_from_yaml(const std::filesystem::path& path) {
  return load_from_yaml_text(read_yaml_file(path), path.string());
}

Document load_from_yaml_text(std::string_view text, const std::string& source_name,
                             IntegerSpellings* spellings) {
  Document document = parse_yaml(text, source_name, spellings);
  if (!document.is_object() && !document.is_null()) {
    throw TypeError("Expected a mapping at the top of " + source_name + ", got " +
                    kind_name(document));
  }
  return document;
}

}  // namespace serializers
