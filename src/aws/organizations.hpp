#pragma once

// AWS Organizations over its JSON protocol: the accounts of the organization, of one
// organizational unit, and the units below one.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "aws/context.hpp"
#include "aws/credentials.hpp"
#include "aws/endpoints.hpp"
#include "aws/errors.hpp"
#include "aws/retry.hpp"

namespace aws {

/// The most pages one listing may take: far beyond the 10,000 accounts an organization can hold,
/// so only an endpoint that never stops paging reaches it.
inline constexpr int MAX_ORGANIZATIONS_PAGES = 10000;

/// An account as Organizations lists it.
struct OrganizationAccount {
  std::string id;
  std::string name;
  /// "ACTIVE", "SUSPENDED", "PENDING_CLOSURE" (the newer State's values upper-cased alike).
  std::string status;
};

/// One page of a listing: its items and the token of the next page (empty on the last).
template <class Item>
struct OrganizationsPage {
  std::vector<Item> items;
  std::string next_token;
};

/// The accounts of a ListAccounts or ListAccountsForParent answer. ClientError for an answer that
/// is no JSON object, lacks "Accounts" or holds an account without a 12-digit "Id".
[[nodiscard]] OrganizationsPage<OrganizationAccount> read_accounts_page(const std::string& body);
/// The ids of the children of a ListChildren answer; ClientError as for read_accounts_page.
[[nodiscard]] OrganizationsPage<std::string> read_children_page(const std::string& body);
/// The ServiceError of a JSON error answer ("__type" and "message"); the HTTP status as the code
/// when the body says nothing readable.
[[nodiscard]] ServiceError read_json_service_error(const std::string& operation, long http_status,
                                                   const std::string& body);

/// Organizations at the endpoint of the partition of the operator's region (or the context's
/// fallback region): us-east-1's in the commercial partition, as the SDKs resolve it, with the
/// configured endpoints and FIPS settings of resolve_endpoint) with one set of credentials, under
/// the standard retry policy. Every listing reads all its pages; a page token given twice or more
/// than MAX_ORGANIZATIONS_PAGES pages are a ClientError.
class OrganizationsClient {
 public:
  OrganizationsClient(const Context& context, Credentials credentials);

  /// Every account of the organization (ListAccounts). ServiceError when Organizations refuses.
  [[nodiscard]] std::vector<OrganizationAccount> list_accounts() const;
  /// The accounts directly in the root or unit `parent_id` (ListAccountsForParent).
  [[nodiscard]] std::vector<OrganizationAccount> list_accounts_for_parent(
      const std::string& parent_id) const;
  /// The ids of the organizational units directly below `parent_id` (ListChildren).
  [[nodiscard]] std::vector<std::string> list_child_units(const std::string& parent_id) const;

 private:
  // The answer's body of one call with `input`, a JSON object's text.
  [[nodiscard]] std::string call(const std::string& operation, const std::string& input) const;
  // Every page of `operation` with the request members `members` (name, text).
  template <class Item>
  [[nodiscard]] std::vector<Item> all_pages(
      const std::string& operation, const std::vector<std::pair<std::string, std::string>>& members,
      OrganizationsPage<Item> (*read_page)(const std::string&)) const;

  Context context_;
  Endpoint endpoint_;
  Credentials credentials_;
  RetryPolicy retry_;
  std::string ca_bundle_;
  std::shared_ptr<AdaptiveRate> rate_ = std::make_shared<AdaptiveRate>();
};

}  // namespace aws
