#include <concepts>
#include <cstddef>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "untrusted/untrusted.hpp"

namespace untrusted {

namespace {

// Objects whose members are kept in a vector in arrival order (nlohmann::ordered_json) look up a
// key by walking the vector.
template <class Json>
concept KeepsMemberOrder = requires {
  typename Json::object_t::Container;
};

// Objects of more members than this get an index of their keys while they are built, so that a
// member is placed in constant time however many came before it.
constexpr std::size_t MEMBERS_BEFORE_INDEX = 16;

// Builds the document from the parser's events. The library's own builder with a callback (the
// way to bound the nesting) searches the whole enclosing container for discarded values each
// time an array or object closes, and its ordered objects search all earlier members for each
// new one: both grow with the square of the count. Here each value is moved into its container
// once.
template <class Json>
class DocumentBuilder {
 public:
  using string_t = typename Json::string_t;
  using binary_t = typename Json::binary_t;

  bool null() { return add(Json(nullptr)); }
  bool boolean(bool value) { return add(Json(value)); }
  bool number_integer(typename Json::number_integer_t value) { return add(Json(value)); }
  bool number_unsigned(typename Json::number_unsigned_t value) { return add(Json(value)); }
  bool number_float(typename Json::number_float_t value, const string_t&) {
    return add(Json(value));
  }
  bool string(string_t& value) { return add(Json(std::move(value))); }
  bool binary(binary_t& value) { return add(Json::binary(std::move(value))); }

  bool start_object(std::size_t) { return open(Json::object()); }
  bool key(string_t& name) {
    open_.back().key = std::move(name);
    return true;
  }
  bool end_object() { return close(); }
  bool start_array(std::size_t) { return open(Json::array()); }
  bool end_array() { return close(); }

  template <class Exception>
  bool parse_error(std::size_t, const std::string&, const Exception& error) {
    throw error;
  }

  Json take() { return std::move(root_); }

 private:
  struct Container {
    Json value;
    string_t key;                                         // of the member whose value comes next
    std::unordered_map<string_t, std::size_t> positions;  // of the members, once indexed
  };

  bool open(Json&& empty) {
    if (open_.size() >= static_cast<std::size_t>(MAX_JSON_DEPTH)) throw NestingTooDeep();
    open_.push_back(Container{std::move(empty), {}, {}});
    return true;
  }

  bool close() {
    Json finished = std::move(open_.back().value);
    open_.pop_back();
    return add(std::move(finished));
  }

  bool add(Json&& value) {
    if (open_.empty()) {
      root_ = std::move(value);
      return true;
    }
    Container& parent = open_.back();
    if (parent.value.is_array()) {
      parent.value.template get_ref<typename Json::array_t&>().push_back(std::move(value));
    } else {
      add_member(parent, std::move(value));
    }
    return true;
  }

  static void add_member(Container& parent, Json&& value) {
    auto& object = parent.value.template get_ref<typename Json::object_t&>();
    if constexpr (KeepsMemberOrder<Json>) {
      auto& members = static_cast<typename Json::object_t::Container&>(object);
      if (members.size() >= MEMBERS_BEFORE_INDEX && parent.positions.empty()) {
        for (std::size_t at = 0; at < members.size(); ++at)
          parent.positions.emplace(members[at].first, at);
      }
      std::size_t found = members.size();
      if (!parent.positions.empty()) {
        if (const auto known = parent.positions.find(parent.key); known != parent.positions.end())
          found = known->second;
      } else {
        for (std::size_t at = 0; at < members.size(); ++at) {
          if (members[at].first == parent.key) {
            found = at;
            break;
          }
        }
      }
      if (found < members.size()) {
        members[found].second = std::move(value);
        return;
      }
      if (!parent.positions.empty()) parent.positions.emplace(parent.key, members.size());
      members.emplace_back(std::move(parent.key), std::move(value));
    } else {
      object[std::move(parent.key)] = std::move(value);
    }
  }

  Json root_;
  std::vector<Container> open_;
};

}  // namespace

template <class Json>
Json parse_json(std::string_view text) {
  DocumentBuilder<Json> builder;
  Json::sax_parse(text, &builder);
  return builder.take();
}

template nlohmann::json parse_json<nlohmann::json>(std::string_view text);
template nlohmann::ordered_json parse_json<nlohmann::ordered_json>(std::string_view text);

}  // namespace untrusted
