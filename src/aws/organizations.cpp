#include "aws/organizations.hpp"

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>
#include <set>

#include "aws/query_client.hpp"
#include "aws/shared_config.hpp"
#include "aws/sigv4.hpp"
#include "untrusted/untrusted.hpp"

namespace aws {

namespace {

using Json = nlohmann::json;

constexpr const char* TARGET_PREFIX = "AWSOrganizationsV20161128.";

// The answer as a JSON object; ClientError for anything else.
Json answer_object(const std::string& body, const char* operation) {
  Json answer;
  try {
    answer = untrusted::parse_json<Json>(body);
  } catch (const std::exception& error) {
    throw ClientError(std::string("The answer of the ") + operation +
                      " operation could not be read: " + untrusted::printable(error.what()));
  }
  if (!answer.is_object())
    throw ClientError(std::string("The answer of the ") + operation + " operation is no object");
  return answer;
}

// The member `name` of `object` as text: empty when absent or null; ClientError for another kind.
std::string text_member(const Json& object, const char* name, const char* operation) {
  const auto found = object.find(name);
  if (found == object.end() || found->is_null()) return {};
  if (!found->is_string())
    throw ClientError(std::string("The answer of the ") + operation + " operation holds a " + name +
                      " that is not a text");
  return found->get<std::string>();
}

const Json& list_member(const Json& answer, const char* name, const char* operation) {
  const auto found = answer.find(name);
  if (found == answer.end() || !found->is_array())
    throw ClientError(std::string("The answer of the ") + operation + " operation holds no " +
                      name + " list");
  return *found;
}

bool is_twelve_digits(const std::string& text) {
  return text.size() == 12 && std::all_of(text.begin(), text.end(),
                                          [](unsigned char c) { return std::isdigit(c) != 0; });
}

}  // namespace

OrganizationsPage<OrganizationAccount> read_accounts_page(const std::string& body) {
  const char* operation = "ListAccounts";
  const Json answer = answer_object(body, operation);
  OrganizationsPage<OrganizationAccount> page;
  for (const Json& item : list_member(answer, "Accounts", operation)) {
    if (!item.is_object())
      throw ClientError(
          "The answer of the ListAccounts operation lists an account that is no object");
    OrganizationAccount account{text_member(item, "Id", operation),
                                text_member(item, "Name", operation),
                                text_member(item, "Status", operation)};
    if (!is_twelve_digits(account.id))
      throw ClientError("The answer of the ListAccounts operation lists the account id \"" +
                        untrusted::printable(account.id) + "\", which is not 12 digits");
    // Accounts listed since the State member came carry it beside (and later instead of) Status.
    if (account.status.empty()) account.status = text_member(item, "State", operation);
    page.items.push_back(std::move(account));
  }
  page.next_token = text_member(answer, "NextToken", operation);
  return page;
}

OrganizationsPage<std::string> read_children_page(const std::string& body) {
  const char* operation = "ListChildren";
  const Json answer = answer_object(body, operation);
  OrganizationsPage<std::string> page;
  for (const Json& item : list_member(answer, "Children", operation)) {
    if (!item.is_object())
      throw ClientError("The answer of the ListChildren operation lists a child that is no object");
    std::string id = text_member(item, "Id", operation);
    if (id.empty())
      throw ClientError("The answer of the ListChildren operation lists a child without an Id");
    page.items.push_back(std::move(id));
  }
  page.next_token = text_member(answer, "NextToken", operation);
  return page;
}

ServiceError read_json_service_error(const std::string& operation, long http_status,
                                     const std::string& body) {
  JsonErrorFields fields = read_json_error_fields(body);
  // Without a code of its own the body is read as the other protocols' errors are.
  if (fields.code.empty()) return read_service_error(operation, http_status, body);
  return ServiceError(std::move(fields.code), std::move(fields.message), "", operation,
                      http_status);
}

OrganizationsClient::OrganizationsClient(const Context& context, Credentials credentials)
    : context_(context), credentials_(std::move(credentials)) {
  const SharedConfig config = load_shared_config(context_.environment);
  // The endpoint rules take Organizations to the global region of the region's partition.
  endpoint_ = resolve_endpoint(Service::organizations,
                               operator_region(context_, config).value_or("us-east-1"),
                               context_.environment, config);
  Transport transport = resolve_transport(context_.environment, config);
  retry_ = transport.retry;
  ca_bundle_ = std::move(transport.ca_bundle);
}

std::string OrganizationsClient::call(const std::string& operation,
                                      const std::string& input) const {
  const auto build = [&] {
    http::Request request;
    request.method = "POST";
    request.url = endpoint_.url + "/";
    request.headers = {{"Content-Type", "application/x-amz-json-1.1"},
                       {"X-Amz-Target", TARGET_PREFIX + operation}};
    request.body = input;
    request.ca_file = ca_bundle_;
    sigv4::sign(request, credentials_, endpoint_.signing_region, "organizations", context_.now());
    return request;
  };
  return service_answer(context_, retry_, *rate_, operation, endpoint_.url, build,
                        read_json_service_error)
      .body;
}

template <class Item>
std::vector<Item> OrganizationsClient::all_pages(
    const std::string& operation, const std::vector<std::pair<std::string, std::string>>& members,
    OrganizationsPage<Item> (*read_page)(const std::string&)) const {
  std::vector<Item> items;
  std::set<std::string> tokens_seen;
  std::string token;
  for (int page_number = 1;; ++page_number) {
    Json input = Json::object();
    for (const auto& [name, value] : members) input[name] = value;
    if (!token.empty()) input["NextToken"] = token;
    OrganizationsPage<Item> page = read_page(call(operation, input.dump()));
    std::move(page.items.begin(), page.items.end(), std::back_inserter(items));
    if (page.next_token.empty()) return items;
    // An endpoint that hands out a token again would be listed for ever.
    if (!tokens_seen.insert(page.next_token).second || page_number >= MAX_ORGANIZATIONS_PAGES)
      throw ClientError("The " + operation + " listing of " + endpoint_.url +
                        " does not end: a page token came twice or the pages passed " +
                        std::to_string(MAX_ORGANIZATIONS_PAGES));
    token = std::move(page.next_token);
  }
}

std::vector<OrganizationAccount> OrganizationsClient::list_accounts() const {
  return all_pages<OrganizationAccount>("ListAccounts", {}, &read_accounts_page);
}

std::vector<OrganizationAccount> OrganizationsClient::list_accounts_for_parent(
    const std::string& parent_id) const {
  return all_pages<OrganizationAccount>("ListAccountsForParent", {{"ParentId", parent_id}},
                                        &read_accounts_page);
}

std::vector<std::string> OrganizationsClient::list_child_units(const std::string& parent_id) const {
  return all_pages<std::string>("ListChildren",
                                {{"ParentId", parent_id}, {"ChildType", "ORGANIZATIONAL_UNIT"}},
                                &read_children_page);
}

}  // namespace aws
