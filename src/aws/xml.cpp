#include "aws/xml.hpp"

#include <expat.h>

#include <memory>

#include "aws/errors.hpp"

namespace aws::xml {

namespace {

constexpr std::size_t MAX_DEPTH = 64;

struct Builder {
  std::vector<Element> open;  // the chain from the root to the element being read
  std::optional<Element> root;
  bool too_deep = false;
  XML_Parser parser = nullptr;
};

std::string local_name(const char* name) {
  std::string_view text(name);
  const auto colon = text.rfind(':');
  return std::string(colon == std::string_view::npos ? text : text.substr(colon + 1));
}

void XMLCALL on_start(void* data, const XML_Char* name, const XML_Char**) {
  auto* builder = static_cast<Builder*>(data);
  if (builder->open.size() >= MAX_DEPTH) {
    builder->too_deep = true;
    XML_StopParser(builder->parser, XML_FALSE);
    return;
  }
  builder->open.push_back(Element{local_name(name), {}, {}});
}

void XMLCALL on_end(void* data, const XML_Char*) {
  auto* builder = static_cast<Builder*>(data);
  Element finished = std::move(builder->open.back());
  builder->open.pop_back();
  if (builder->open.empty()) {
    builder->root = std::move(finished);
  } else {
    builder->open.back().children.push_back(std::move(finished));
  }
}

void XMLCALL on_text(void* data, const XML_Char* text, int length) {
  auto* builder = static_cast<Builder*>(data);
  if (!builder->open.empty())
    builder->open.back().text.append(text, static_cast<std::size_t>(length));
}

struct ParserDeleter {
  void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};

}  // namespace

const Element* Element::child(std::string_view child_name) const {
  for (const auto& element : children) {
    if (element.name == child_name) return &element;
  }
  return nullptr;
}

std::optional<std::string> Element::child_text(std::string_view child_name) const {
  const Element* element = child(child_name);
  if (element == nullptr) return std::nullopt;
  return element->text;
}

std::string Element::child_text_or_empty(std::string_view child_name) const {
  return child_text(child_name).value_or("");
}

std::vector<const Element*> Element::children_named(std::string_view child_name) const {
  std::vector<const Element*> found;
  for (const auto& element : children) {
    if (element.name == child_name) found.push_back(&element);
  }
  return found;
}

std::vector<const Element*> Element::items(std::string_view list_name) const {
  const Element* list = child(list_name);
  if (list == nullptr) return {};
  return list->children_named("item");
}

Element parse(std::string_view document) {
  std::unique_ptr<XML_ParserStruct, ParserDeleter> parser(XML_ParserCreate("UTF-8"));
  if (!parser) throw ClientError("could not create an XML parser");
  Builder builder;
  builder.parser = parser.get();
  XML_SetUserData(parser.get(), &builder);
  XML_SetElementHandler(parser.get(), &on_start, &on_end);
  XML_SetCharacterDataHandler(parser.get(), &on_text);
  const auto status =
      XML_Parse(parser.get(), document.data(), static_cast<int>(document.size()), XML_TRUE);
  if (builder.too_deep)
    throw ClientError("XML answer nested more than " + std::to_string(MAX_DEPTH) + " levels deep");
  if (status != XML_STATUS_OK) {
    throw ClientError(std::string("unreadable XML answer: ") +
                      XML_ErrorString(XML_GetErrorCode(parser.get())) + " at line " +
                      std::to_string(XML_GetCurrentLineNumber(parser.get())) + ", column " +
                      std::to_string(XML_GetCurrentColumnNumber(parser.get())));
  }
  if (!builder.root) throw ClientError("XML answer without a root element");
  return std::move(*builder.root);
}

}  // namespace aws::xml
