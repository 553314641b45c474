#include "serializers/xlsx/xml.hpp"

#include <expat.h>

#include <exception>
#include <memory>

#include "serializers/xlsx/xlsx.hpp"

namespace serializers::xlsx_detail {

namespace {

constexpr char NAMESPACE_SEPARATOR = ' ';

XmlName split_name(const char* name) {
  const std::string_view whole(name);
  const auto separator = whole.find(NAMESPACE_SEPARATOR);
  if (separator == std::string_view::npos) return {{}, whole};
  return {whole.substr(0, separator), whole.substr(separator + 1)};
}

struct ParserFreer {
  void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};

// Expat is C: an exception must not unwind through it, so the callbacks park it here, stop the
// parser and the caller rethrows once XML_Parse has returned.
struct ParseState {
  XML_Parser parser;
  XmlHandler& handler;
  std::exception_ptr failure;
  bool doctype = false;

  void fail() {
    failure = std::current_exception();
    XML_StopParser(parser, XML_FALSE);
  }
};

void XMLCALL on_start(void* data, const XML_Char* name, const XML_Char** attributes) {
  auto& state = *static_cast<ParseState*>(data);
  try {
    state.handler.start(split_name(name), XmlAttributes(attributes));
  } catch (...) {
    state.fail();
  }
}

void XMLCALL on_end(void* data, const XML_Char* name) {
  auto& state = *static_cast<ParseState*>(data);
  try {
    state.handler.end(split_name(name));
  } catch (...) {
    state.fail();
  }
}

void XMLCALL on_text(void* data, const XML_Char* characters, int length) {
  auto& state = *static_cast<ParseState*>(data);
  try {
    state.handler.text(std::string_view(characters, static_cast<std::size_t>(length)));
  } catch (...) {
    state.fail();
  }
}

void XMLCALL on_doctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
  auto& state = *static_cast<ParseState*>(data);
  state.doctype = true;
  XML_StopParser(state.parser, XML_FALSE);
}

int hex_value(char digit) {
  if (digit >= '0' && digit <= '9') return digit - '0';
  if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
  if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
  return -1;
}

// The UTF-16 unit of an _xHHHH_ escape at `position`, if there is one.
std::optional<char32_t> escape_at(std::string_view text, std::size_t position) {
  if (position + 7 > text.size() || text[position] != '_' || text[position + 1] != 'x' ||
      text[position + 6] != '_') {
    return std::nullopt;
  }
  char32_t unit = 0;
  for (std::size_t i = position + 2; i < position + 6; ++i) {
    const int digit = hex_value(text[i]);
    if (digit < 0) return std::nullopt;
    unit = unit * 16 + static_cast<char32_t>(digit);
  }
  return unit;
}

void append_utf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

constexpr char32_t REPLACEMENT_CHARACTER = 0xFFFD;

}  // namespace

std::optional<std::string_view> XmlAttributes::get(std::string_view ns,
                                                   std::string_view local) const {
  for (const char** pair = pairs_; pair[0] != nullptr; pair += 2) {
    const XmlName name = split_name(pair[0]);
    if (name.ns == ns && name.local == local) return std::string_view(pair[1]);
  }
  return std::nullopt;
}

std::optional<std::string_view> XmlAttributes::relationship(std::string_view local) const {
  if (auto value = get(RELATIONSHIPS_NS, local)) return value;
  return get(RELATIONSHIPS_STRICT_NS, local);
}

void parse_part(const Archive& archive, std::string_view part, std::uint64_t max_bytes,
                XmlHandler& handler) {
  std::unique_ptr<XML_ParserStruct, ParserFreer> parser(
      XML_ParserCreateNS(nullptr, NAMESPACE_SEPARATOR));
  if (!parser) throw std::bad_alloc();
  ParseState state{parser.get(), handler, nullptr};
  XML_SetUserData(parser.get(), &state);
  XML_SetElementHandler(parser.get(), on_start, on_end);
  XML_SetCharacterDataHandler(parser.get(), on_text);
  XML_SetStartDoctypeDeclHandler(parser.get(), on_doctype);

  const auto where = [&] {
    return "part " + std::string(part) + " of workbook " + quoted(archive.path());
  };
  const auto check = [&](XML_Status status) {
    if (state.failure) std::rethrow_exception(state.failure);
    if (state.doctype)
      throw XLSXError(where() + " carries a document type declaration, which workbooks never do");
    if (status == XML_STATUS_ERROR) {
      throw XLSXError(
          where() + " is not well-formed XML: " + XML_ErrorString(XML_GetErrorCode(parser.get())) +
          " at line " + std::to_string(XML_GetCurrentLineNumber(parser.get())));
    }
  };
  archive.stream(part, max_bytes, [&](std::string_view bytes) {
    check(XML_Parse(parser.get(), bytes.data(), static_cast<int>(bytes.size()), XML_FALSE));
  });
  check(XML_Parse(parser.get(), nullptr, 0, XML_TRUE));
}

std::string decode_escapes(std::string_view text) {
  if (text.find("_x") == std::string_view::npos) return std::string(text);
  std::string out;
  out.reserve(text.size());
  std::size_t position = 0;
  while (position < text.size()) {
    const auto unit = escape_at(text, position);
    if (!unit) {
      out += text[position++];
      continue;
    }
    position += 7;
    char32_t code = *unit;
    if (code >= 0xD800 && code <= 0xDBFF) {
      // A character beyond the basic plane is escaped as two UTF-16 halves.
      const auto low = escape_at(text, position);
      if (low && *low >= 0xDC00 && *low <= 0xDFFF) {
        code = 0x10000 + ((code - 0xD800) << 10) + (*low - 0xDC00);
        position += 7;
      } else {
        code = REPLACEMENT_CHARACTER;
      }
    } else if (code >= 0xDC00 && code <= 0xDFFF) {
      code = REPLACEMENT_CHARACTER;
    }
    append_utf8(out, code);
  }
  return out;
}

}  // namespace serializers::xlsx_detail
