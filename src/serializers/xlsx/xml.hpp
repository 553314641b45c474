#pragma once

// Namespace-aware, streaming reading of one XML part of a workbook package with expat.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "serializers/xlsx/archive.hpp"

namespace serializers::xlsx_detail {

/// Namespaces of the workbook parts, in their transitional and strict spellings.
inline constexpr std::string_view SPREADSHEET_NS =
    "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
inline constexpr std::string_view SPREADSHEET_STRICT_NS =
    "http://purl.oclc.org/ooxml/spreadsheetml/main";
inline constexpr std::string_view RELATIONSHIPS_NS =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
inline constexpr std::string_view RELATIONSHIPS_STRICT_NS =
    "http://purl.oclc.org/ooxml/officeDocument/relationships";
inline constexpr std::string_view PACKAGE_RELATIONSHIPS_NS =
    "http://schemas.openxmlformats.org/package/2006/relationships";

/// An element or attribute name split into its namespace (empty when it has none) and local name.
struct XmlName {
  std::string_view ns;
  std::string_view local;
  /// Whether the name is `local` in the spreadsheet namespace (either spelling).
  [[nodiscard]] bool is_spreadsheet(std::string_view wanted) const {
    return local == wanted && (ns == SPREADSHEET_NS || ns == SPREADSHEET_STRICT_NS);
  }
};

/// The attributes of one start tag.
class XmlAttributes {
 public:
  explicit XmlAttributes(const char** pairs) : pairs_(pairs) {}
  /// The value of the attribute `local` in namespace `ns` ("" for an attribute without one).
  [[nodiscard]] std::optional<std::string_view> get(std::string_view ns,
                                                    std::string_view local) const;
  /// The value of a relationship-id attribute such as r:id, in either spelling of its namespace.
  [[nodiscard]] std::optional<std::string_view> relationship(std::string_view local) const;

 private:
  const char** pairs_;
};

/// What a part reader does with the events of one part; it may throw, the parse then stops.
class XmlHandler {
 public:
  virtual ~XmlHandler() = default;
  virtual void start(const XmlName& name, const XmlAttributes& attributes) = 0;
  virtual void end(const XmlName& name) = 0;
  virtual void text(std::string_view characters) = 0;
};

/// Parses `part` of the archive with `handler`, at most `max_bytes` of it; XLSXError naming the
/// part and the workbook for malformed XML or a document type declaration (workbooks never carry
/// one, and entity definitions are how XML bombs work).
void parse_part(const Archive& archive, std::string_view part, std::uint64_t max_bytes,
                XmlHandler& handler);

/// `text` with the _xHHHH_ escapes of workbook strings decoded (_x005F_ is a literal underscore).
std::string decode_escapes(std::string_view text);

}  // namespace serializers::xlsx_detail
