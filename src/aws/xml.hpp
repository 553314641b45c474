#pragma once

// A small element tree of an AWS XML answer, read with expat.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace aws::xml {

/// One element: its local name (namespace prefix dropped), its own text and its child elements.
struct Element {
  std::string name;
  std::string text;
  std::vector<Element> children;

  /// The first child of that name, or nullptr.
  [[nodiscard]] const Element* child(std::string_view child_name) const;
  /// The text of the first child of that name, or nothing when there is no such child.
  [[nodiscard]] std::optional<std::string> child_text(std::string_view child_name) const;
  /// The text of the first child of that name, or "" when there is no such child.
  [[nodiscard]] std::string child_text_or_empty(std::string_view child_name) const;
  /// Every child of that name, in document order.
  [[nodiscard]] std::vector<const Element*> children_named(std::string_view child_name) const;
  /// The "item" children of the child `list_name` (EC2's way of writing lists); empty when absent.
  [[nodiscard]] std::vector<const Element*> items(std::string_view list_name) const;
};

/// The root element of `document`. ClientError for a malformed or too deeply nested document;
/// the message gives the position, never the content.
[[nodiscard]] Element parse(std::string_view document);

}  // namespace aws::xml
