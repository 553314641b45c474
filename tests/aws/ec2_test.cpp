// EC2 and STS over the Query protocol against scripted stand-ins: paging to the end, retries of
// throttling and transient failures, service errors, unreadable answers.

#include "aws/ec2.hpp"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "aws/errors.hpp"
#include "aws/sts.hpp"
#include "stand_ins.hpp"

namespace aws {
namespace {

using testing::answer;
using testing::form_fields;
using testing::make_context;
using testing::RecordingSleeper;
using testing::ScriptedHttp;

const Credentials ROLE_CREDENTIALS{"ASIAROLE", "role-secret", "role-token", "2030-01-01T00:00:00Z"};
const Endpoint LOCAL_EC2{"http://ec2.local:8080", "eu-west-1"};

std::string vpc_item(int index) {
  const std::string id = "vpc-" + std::to_string(1000 + index);
  return "<item><vpcId>" + id +
         "</vpcId><ownerId>111111111111</ownerId><state>available</state>"
         "<cidrBlock>10." +
         std::to_string(index) +
         ".0.0/16</cidrBlock><cidrBlockAssociationSet>"
         "<item><cidrBlock>10." +
         std::to_string(index) + ".0.0/16</cidrBlock><associationId>a-" + id +
         "</associationId><cidrBlockState><state>associated</state></cidrBlockState></item>"
         "<item><cidrBlock>100.64.0.0/24</cidrBlock><associationId>b-" +
         id +
         "</associationId><cidrBlockState><state>disassociated</state></cidrBlockState></item>"
         "</cidrBlockAssociationSet><isDefault>false</isDefault>"
         "<tagSet><item><key>Name</key><value>spoke " +
         std::to_string(index) + "</value></item></tagSet></item>";
}

// Pages the given number of items as EC2 does; the page after the last item is an empty one that
// still had to be asked for.
http::Response page_of(const std::map<std::string, std::string>& fields, int total,
                       const std::string& set_name, const std::function<std::string(int)>& item) {
  const int size = std::stoi(fields.at("MaxResults"));
  const int start = fields.contains("NextToken") ? std::stoi(fields.at("NextToken").substr(6)) : 0;
  // The root element is named after the operation, as EC2 names it.
  const std::string root = fields.at("Action") + "Response";
  std::string body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><" + root +
                     " xmlns=\"http://ec2.amazonaws.com/doc/2016-11-15/\">"
                     "<requestId>r</requestId><" +
                     set_name + ">";
  for (int i = start; i < std::min(start + size, total); ++i) body += item(i);
  body += "</" + set_name + ">";
  if (start < total) body += "<nextToken>token-" + std::to_string(start + size) + "</nextToken>";
  return answer(200, body + "</" + root + ">");
}

TEST(Ec2Paging, TwoHundredVpcsComeBackCompleteAndInOrderPageByPage) {
  auto client = std::make_shared<ScriptedHttp>([](const http::Request& request) {
    const auto fields = form_fields(request.body);
    EXPECT_EQ(fields.at("Action"), "DescribeVpcs");
    EXPECT_EQ(fields.at("Version"), "2016-11-15");
    return page_of(fields, 200, "vpcSet", vpc_item);
  });
  const Ec2Client ec2(make_context({}, client), LOCAL_EC2, ROLE_CREDENTIALS);
  std::vector<std::size_t> page_sizes;
  std::vector<std::string> ids;
  ec2.for_each_vpc_page(64, [&](std::vector<Vpc>& page) {
    page_sizes.push_back(page.size());
    for (const auto& vpc : page) ids.push_back(vpc.id);
  });
  EXPECT_EQ(page_sizes, (std::vector<std::size_t>{64, 64, 64, 8, 0}));
  ASSERT_EQ(ids.size(), 200u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(ids[i], "vpc-" + std::to_string(1000 + i));
  EXPECT_FALSE(form_fields(client->requests[0].body).contains("NextToken"));
  EXPECT_EQ(form_fields(client->requests[1].body).at("NextToken"), "token-64");

  const std::vector<Vpc> all = ec2.describe_vpcs(64);
  ASSERT_EQ(all.size(), 200u);
  const Vpc& vpc = all[7];
  EXPECT_EQ(vpc.cidr_block, "10.7.0.0/16");
  ASSERT_EQ(vpc.cidr_block_association_set.size(), 2u);
  EXPECT_EQ(vpc.cidr_block_association_set[0].state, "associated");
  EXPECT_EQ(vpc.cidr_block_association_set[1].cidr_block, "100.64.0.0/24");
  EXPECT_EQ(vpc.cidr_block_association_set[1].state, "disassociated");
  EXPECT_EQ(vpc.cidr_block_association_set[1].association_id, "b-vpc-1007");
  ASSERT_EQ(vpc.tags.size(), 1u);
  EXPECT_EQ(vpc.tags[0].key, "Name");
  EXPECT_EQ(vpc.tags[0].value, "spoke 7");
  EXPECT_EQ(vpc.owner_id, "111111111111");
  EXPECT_FALSE(vpc.is_default);
}

TEST(Ec2Paging, AVpcWithOneHundredThirtySubnetsIsListedWhollyThroughItsFilter) {
  auto client = std::make_shared<ScriptedHttp>([](const http::Request& request) {
    const auto fields = form_fields(request.body);
    EXPECT_EQ(fields.at("Filter.1.Name"), "vpc-id");
    EXPECT_EQ(fields.at("Filter.1.Value.1"), "vpc-big");
    return page_of(fields, 130, "subnetSet", [](int i) {
      // Every tenth subnet is IPv6-only: it has no IPv4 block at all.
      if (i % 10 == 9) {
        return "<item><subnetId>subnet-" + std::to_string(i) +
               "</subnetId><vpcId>vpc-big</vpcId>"
               "<ipv6CidrBlockAssociationSet><item><ipv6CidrBlock>2600:1f18::/64</ipv6CidrBlock></"
               "item>"
               "</ipv6CidrBlockAssociationSet></item>";
      }
      return "<item><subnetId>subnet-" + std::to_string(i) +
             "</subnetId><vpcId>vpc-big</vpcId><cidrBlock>10.0." + std::to_string(i) +
             ".0/24</cidrBlock><availabilityZone>eu-west-1a</availabilityZone></item>";
    });
  });
  const Ec2Client ec2(make_context({}, client), LOCAL_EC2, ROLE_CREDENTIALS);
  const std::vector<Subnet> subnets = ec2.describe_subnets("vpc-big", 64);
  ASSERT_EQ(subnets.size(), 130u);
  EXPECT_EQ(client->requests.size(), 4u);  // 64 + 64 + 2 + the empty last page
  for (int i = 0; i < 130; ++i) {
    EXPECT_EQ(subnets[i].id, "subnet-" + std::to_string(i));
    if (i % 10 == 9) {
      EXPECT_FALSE(subnets[i].cidr_block.has_value());
      EXPECT_EQ(subnets[i].ipv6_cidr_blocks, std::vector<std::string>{"2600:1f18::/64"});
    } else {
      EXPECT_EQ(subnets[i].cidr_block, "10.0." + std::to_string(i) + ".0/24");
    }
  }
}

TEST(Ec2Paging, CyclingOrEndlessTokensEndTheListingInsteadOfLoopingForever) {
  // Each server answers with the tokens `next_token` picks for the n-th request (from 0).
  const auto listing = [](std::function<std::string(std::size_t)> next_token) {
    auto client = std::make_shared<ScriptedHttp>(
        [next_token, requests = std::size_t{0}](const http::Request&) mutable {
          return answer(200, "<DescribeSubnetsResponse><subnetSet/><nextToken>" +
                                 next_token(requests++) + "</nextToken></DescribeSubnetsResponse>");
        });
    const Ec2Client ec2(make_context({}, client), LOCAL_EC2, ROLE_CREDENTIALS);
    std::string message;
    try {
      (void)ec2.describe_region_subnets(1000);
    } catch (const ServiceError& error) {
      EXPECT_EQ(error.code(), "PaginationError");
      message = error.what();
    }
    return std::make_pair(client->requests.size(), message);
  };
  const auto same = listing([](std::size_t) { return "same"; });
  EXPECT_EQ(same.first, 2u);
  EXPECT_NE(same.second.find("gave a page token on page 2 that it had given before"),
            std::string::npos)
      << same.second;
  const auto cycle = listing([](std::size_t n) { return std::string(1, "XYZ"[n % 3]); });
  EXPECT_EQ(cycle.first, 4u);
  EXPECT_NE(cycle.second.find("DescribeSubnets listing of " + LOCAL_EC2.url), std::string::npos)
      << cycle.second;
  const auto endless = listing([](std::size_t n) { return "token-" + std::to_string(n); });
  EXPECT_EQ(endless.first, MAX_LISTING_PAGES);
  EXPECT_NE(endless.second.find("did not end after 10000 pages"), std::string::npos)
      << endless.second;
}

TEST(Retries, ThrottlingTwiceThenSuccessIsRetriedWithGrowingJitteredPauses) {
  int calls = 0;
  auto client = std::make_shared<ScriptedHttp>([&](const http::Request&) {
    if (++calls <= 2) {
      return answer(503,
                    "<Response><Errors><Error><Code>RequestLimitExceeded</Code><Message>Request "
                    "limit exceeded."
                    "</Message></Error></Errors><RequestID>req-1</RequestID></Response>");
    }
    return answer(200,
                  "<DescribeRegionsResponse><regionInfo><item><regionName>eu-west-1</regionName>"
                  "<regionEndpoint>ec2.eu-west-1.amazonaws.com</regionEndpoint></"
                  "item><item><regionName>us-east-1"
                  "</regionName></item></regionInfo></DescribeRegionsResponse>");
  });
  auto sleeper = std::make_shared<RecordingSleeper>();
  const Ec2Client ec2(make_context({}, client, sleeper), LOCAL_EC2, ROLE_CREDENTIALS);
  const auto regions = ec2.describe_regions();
  ASSERT_EQ(regions.size(), 2u);
  EXPECT_EQ(regions[0].name, "eu-west-1");
  EXPECT_EQ(regions[1].name, "us-east-1");
  EXPECT_EQ(calls, 3);
  // random 0.5 of at most 1 s, then of at most 2 s.
  EXPECT_EQ(sleeper->pauses, (std::vector<std::chrono::milliseconds>{
                                 std::chrono::milliseconds(500), std::chrono::milliseconds(1000)}));
  // Each attempt carries its own signature.
  EXPECT_FALSE(testing::header(client->requests[0], "Authorization").empty());
  EXPECT_EQ(client->requests.size(), 3u);
}

TEST(Retries, AttemptsAreBoundedAndTheLastErrorIsTheServiceError) {
  std::string code = "InternalError";
  auto client = std::make_shared<ScriptedHttp>([&](const http::Request&) {
    return answer(code == "Throttling" ? 400 : 500,
                  "<Response><Errors><Error><Code>" + code +
                      "</Code><Message>Rate exceeded</Message></Error>"
                      "</Errors><RequestID>req-9</RequestID></Response>");
  });
  auto sleeper = std::make_shared<RecordingSleeper>();
  const auto fails_with = [&](const Ec2Client& ec2, const std::string& expected) {
    try {
      (void)ec2.describe_regions();
      ADD_FAILURE() << "no error";
    } catch (const ServiceError& error) {
      EXPECT_EQ(error.code(), expected);
      EXPECT_EQ(error.request_id(), "req-9");
      EXPECT_EQ(std::string(error.what()), "An error occurred (" + expected +
                                               ") when calling the DescribeRegions operation: "
                                               "Rate exceeded");
    }
  };
  Context context = make_context({{"AWS_MAX_ATTEMPTS", "5"}}, client, sleeper);
  fails_with(Ec2Client(context, LOCAL_EC2, ROLE_CREDENTIALS), "InternalError");
  EXPECT_EQ(client->requests.size(), 5u);
  EXPECT_EQ(sleeper->pauses.size(), 4u);
  for (const auto& request : client->requests) EXPECT_EQ(request.ca_file, "");

  // Throttling is waited out for the patience, whatever max_attempts says: growing jittered
  // pauses up to the 20 s ceiling, until the next one would pass the minute.
  code = "Throttling";
  client->requests.clear();
  sleeper->pauses.clear();
  const Ec2Client throttled(context, LOCAL_EC2, ROLE_CREDENTIALS);
  fails_with(throttled, "Throttling");
  using std::chrono::milliseconds;
  EXPECT_EQ(sleeper->pauses,
            (std::vector<milliseconds>{milliseconds(500), milliseconds(1000), milliseconds(2000),
                                       milliseconds(4000), milliseconds(8000), milliseconds(16000),
                                       milliseconds(20000)}));
  EXPECT_EQ(client->requests.size(), 8u);
  // The client stays slowed down: its next request waits for its own interval (the clock
  // stands still here), which no other client does.
  sleeper->pauses.clear();
  code = "InternalError";
  fails_with(throttled, "InternalError");
  ASSERT_FALSE(sleeper->pauses.empty());
  EXPECT_GE(sleeper->pauses.front(), milliseconds(100));
  sleeper->pauses.clear();
  fails_with(Ec2Client(context, LOCAL_EC2, ROLE_CREDENTIALS), "InternalError");
  EXPECT_EQ(sleeper->pauses.size(), 4u);
  EXPECT_EQ(sleeper->pauses.front(), milliseconds(500));

  // Without patience, throttling counts against max_attempts like any transient failure.
  code = "Throttling";
  client->requests.clear();
  context.throttling_patience = milliseconds(0);
  fails_with(Ec2Client(context, LOCAL_EC2, ROLE_CREDENTIALS), "Throttling");
  EXPECT_EQ(client->requests.size(), 5u);
  code = "InternalError";

  // The profile's max_attempts and ca_bundle, when the variables leave them open.
  const std::filesystem::path folder = std::filesystem::path(TEST_SCRATCH_DIR) / "aws_retries";
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "ca.pem") << "-----BEGIN CERTIFICATE-----\n";
  std::ofstream(folder / "config")
      << "[profile proxied]\nmax_attempts = 2\nca_bundle = " << (folder / "ca.pem").string()
      << "\n";
  client->requests.clear();
  const Ec2Client proxied(
      make_context({{"AWS_CONFIG_FILE", (folder / "config").string()}, {"AWS_PROFILE", "proxied"}},
                   client, sleeper),
      LOCAL_EC2, ROLE_CREDENTIALS);
  EXPECT_THROW((void)proxied.describe_regions(), ServiceError);
  ASSERT_EQ(client->requests.size(), 2u);
  EXPECT_EQ(client->requests[1].ca_file, (folder / "ca.pem").string());

  // AWS_CA_BUNDLE comes first, and a bundle that is not there is named before any request.
  client->requests.clear();
  try {
    const Ec2Client missing(make_context({{"AWS_CONFIG_FILE", (folder / "config").string()},
                                          {"AWS_PROFILE", "proxied"},
                                          {"AWS_CA_BUNDLE", (folder / "none.pem").string()}},
                                         client, sleeper),
                            LOCAL_EC2, ROLE_CREDENTIALS);
    FAIL() << "no error";
  } catch (const ClientError& error) {
    EXPECT_NE(
        std::string(error.what()).find("AWS_CA_BUNDLE names " + (folder / "none.pem").string()),
        std::string::npos)
        << error.what();
  }
  EXPECT_TRUE(client->requests.empty());
}

TEST(Retries, RefusalsAreNotRetriedAndStsErrorsAreReadFromTheirOwnLayout) {
  auto client = std::make_shared<ScriptedHttp>([](const http::Request&) {
    return answer(403,
                  "<ErrorResponse "
                  "xmlns=\"https://sts.amazonaws.com/doc/2011-06-15/\"><Error><Type>Sender</Type>"
                  "<Code>AccessDenied</Code><Message>User is not authorized to perform: "
                  "sts:AssumeRole</Message>"
                  "</Error><RequestId>sts-req</RequestId></ErrorResponse>");
  });
  auto sleeper = std::make_shared<RecordingSleeper>();
  const StsClient sts(make_context({}, client, sleeper), ROLE_CREDENTIALS,
                      Endpoint{"http://sts.local", "us-east-1"});
  try {
    (void)sts.assume_role({"arn:aws:iam::222222222222:role/R", "s", std::nullopt, std::nullopt});
    FAIL() << "no error";
  } catch (const ServiceError& error) {
    EXPECT_EQ(error.code(), "AccessDenied");
    EXPECT_EQ(error.request_id(), "sts-req");
    EXPECT_EQ(error.operation(), "AssumeRole");
    EXPECT_EQ(error.http_status(), 403);
  }
  EXPECT_EQ(client->requests.size(), 1u);
  EXPECT_TRUE(sleeper->pauses.empty());
}

TEST(Refusals, OnlyAnExplicitDenyOfAServiceControlPolicyIsTakenForOne) {
  // The texts AWS sends: EC2 in a region an organization closed, STS under a deny of the
  // organization, and refusals of other origins that must not pass for one.
  const std::string user = "User: arn:aws:sts::111111111111:assumed-role/Scanner/halvane is not ";
  struct Refusal {
    std::string code;
    std::string message;
    bool closed;
  };
  const std::vector<Refusal> refusals{
      {"UnauthorizedOperation",
       "You are not authorized to perform this operation. " + user +
           "authorized to perform: ec2:DescribeVpcs with an explicit deny in a service control "
           "policy. Encoded authorization failure message: x1",
       true},
      {"AccessDenied",
       user + "authorized to perform: sts:AssumeRole on resource: "
              "arn:aws:iam::222222222222:role/R with an explicit deny in a service control policy",
       true},
      {"UnauthorizedOperation",
       "You are not authorized to perform this operation. " + user +
           "authorized to perform: ec2:DescribeVpcs with an explicit deny in an identity-based "
           "policy",
       false},
      {"UnauthorizedOperation",
       user + "authorized to perform: ec2:DescribeVpcs because no service control policy allows "
              "the ec2:DescribeVpcs action",
       false},
      {"AuthFailure",
       "AWS was not able to validate the provided access credentials with an explicit deny in a "
       "service control policy",
       false}};
  for (const Refusal& refusal : refusals) {
    const std::string body = "<Response><Errors><Error><Code>" + refusal.code + "</Code><Message>" +
                             refusal.message +
                             "</Message></Error></Errors><RequestID>r</RequestID></Response>";
    auto client = std::make_shared<ScriptedHttp>(
        [body](const http::Request&) { return answer(403, body); });
    const Ec2Client ec2(make_context({}, client), LOCAL_EC2, ROLE_CREDENTIALS);
    try {
      (void)ec2.describe_vpcs(64);
      ADD_FAILURE() << "no error";
    } catch (const ServiceError& error) {
      EXPECT_EQ(error.denied_by_service_control_policy(), refusal.closed) << refusal.message;
    }
  }
}

TEST(Retries, AServerErrorWithoutXmlIsRetriedAndThenReportedByItsStatus) {
  auto client = std::make_shared<ScriptedHttp>(
      [](const http::Request&) { return answer(502, "<html>proxy</html"); });
  const Ec2Client ec2(make_context({}, client), LOCAL_EC2, ROLE_CREDENTIALS);
  try {
    (void)ec2.describe_regions();
    FAIL() << "no error";
  } catch (const ServiceError& error) {
    EXPECT_EQ(error.code(), "502");
    EXPECT_EQ(error.message(), "Bad Gateway");
  }
  EXPECT_EQ(client->requests.size(), 3u);
}

int closed_port() {
  const int socket_fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(socket_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(socket_fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(socket_fd);
  return ntohs(address.sin_port);
}

TEST(Retries, ARefusedConnectionIsRetriedThenReportedAsAClientError) {
  auto sleeper = std::make_shared<RecordingSleeper>();
  const Context context = make_context({}, std::make_shared<http::CurlClient>(), sleeper);
  const Ec2Client ec2(context,
                      Endpoint{"http://127.0.0.1:" + std::to_string(closed_port()), "us-east-1"},
                      ROLE_CREDENTIALS);
  try {
    (void)ec2.describe_regions();
    FAIL() << "no error";
  } catch (const ServiceError&) {
    FAIL() << "a transport failure is not a service error";
  } catch (const ClientError& error) {
    EXPECT_NE(std::string(error.what()).find("after 3 attempt(s)"), std::string::npos)
        << error.what();
  }
  EXPECT_EQ(sleeper->pauses.size(), 2u);

  // A failure that another attempt would not mend (a refused certificate) is final at once, and
  // the message still counts that one attempt.
  auto refusing = std::make_shared<ScriptedHttp>([](const http::Request&) -> http::Response {
    throw http::TransportError("SSL certificate problem", 60, false);
  });
  sleeper->pauses.clear();
  try {
    (void)Ec2Client(make_context({}, refusing, sleeper), LOCAL_EC2, ROLE_CREDENTIALS)
        .describe_regions();
    FAIL() << "no error";
  } catch (const ClientError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Could not reach the endpoint for the DescribeRegions operation (" + LOCAL_EC2.url +
                  ") after 1 attempt(s): SSL certificate problem");
  }
  EXPECT_EQ(refusing->requests.size(), 1u);
  EXPECT_TRUE(sleeper->pauses.empty());
}

TEST(Answers, AnUnreadableAnswerIsAClientErrorThatQuotesNothingOfTheBody) {
  auto client = std::make_shared<ScriptedHttp>([](const http::Request&) {
    return answer(200, "<AssumeRoleResponse><SecretAccessKey>leaked-secret</SecretAccessKey");
  });
  const StsClient sts(make_context({}, client), ROLE_CREDENTIALS,
                      Endpoint{"http://sts.local", "us-east-1"});
  try {
    (void)sts.assume_role({"arn:aws:iam::1:role/R", "s", std::nullopt, std::nullopt});
    FAIL() << "no error";
  } catch (const ClientError& error) {
    EXPECT_EQ(std::string(error.what()).find("leaked-secret"), std::string::npos);
  }
}

TEST(Answers, CredentialsThatWouldBreakARequestHeaderAreRefusedNamingTheirSource) {
  for (const std::string& credentials :
       {std::string("<AccessKeyId>ASIA\r\nX-Injected: 1</AccessKeyId><SecretAccessKey>s"),
        std::string("<AccessKeyId>ASIA</AccessKeyId><SecretAccessKey>s</SecretAccessKey>"
                    "<SessionToken>token\n</SessionToken><SecretAccessKey>s")}) {
    auto client = std::make_shared<ScriptedHttp>([&](const http::Request&) {
      return answer(200, "<AssumeRoleResponse><AssumeRoleResult><Credentials>" + credentials +
                             "</SecretAccessKey></Credentials></AssumeRoleResult>"
                             "</AssumeRoleResponse>");
    });
    const StsClient sts(make_context({}, client), ROLE_CREDENTIALS,
                        Endpoint{"http://sts.local", "us-east-1"});
    try {
      (void)sts.assume_role({"arn:aws:iam::1:role/R", "s", std::nullopt, std::nullopt});
      ADD_FAILURE() << credentials << ": no error";
    } catch (const ClientError& error) {
      EXPECT_TRUE(
          std::string(error.what()).starts_with("The answer of the AssumeRole operation gave "))
          << error.what();
      EXPECT_NE(std::string(error.what()).find("with a control character"), std::string::npos);
    }
  }
}

TEST(Answers, AssumeRoleSendsItsParametersAndReadsTheCredentials) {
  auto client = std::make_shared<ScriptedHttp>([](const http::Request&) {
    return answer(
        200,
        "<AssumeRoleResponse xmlns=\"https://sts.amazonaws.com/doc/2011-06-15/\"><AssumeRoleResult>"
        "<Credentials><AccessKeyId>ASIANEW</AccessKeyId><SecretAccessKey>new-secret</"
        "SecretAccessKey>"
        "<SessionToken>new-token</SessionToken><Expiration>2030-01-01T01:00:00Z</Expiration></"
        "Credentials>"
        "</AssumeRoleResult></AssumeRoleResponse>");
  });
  const StsClient sts(make_context({}, client), ROLE_CREDENTIALS,
                      Endpoint{"http://sts.local", "us-east-1"});
  const Credentials credentials =
      sts.assume_role({"arn:aws:iam::1:role/a/b", "Session1", std::string("ext"), 900});
  EXPECT_EQ(credentials.access_key_id, "ASIANEW");
  EXPECT_EQ(credentials.secret_access_key, "new-secret");
  EXPECT_EQ(credentials.session_token, "new-token");
  EXPECT_EQ(credentials.expiration, "2030-01-01T01:00:00Z");
  const auto fields = form_fields(client->requests[0].body);
  EXPECT_EQ(fields.at("Action"), "AssumeRole");
  EXPECT_EQ(fields.at("Version"), "2011-06-15");
  EXPECT_EQ(fields.at("RoleArn"), "arn:aws:iam::1:role/a/b");
  EXPECT_EQ(fields.at("RoleSessionName"), "Session1");
  EXPECT_EQ(fields.at("ExternalId"), "ext");
  EXPECT_EQ(fields.at("DurationSeconds"), "900");
  EXPECT_EQ(testing::header(client->requests[0], "X-Amz-Security-Token"), "role-token");
  EXPECT_NE(
      testing::header(client->requests[0], "Authorization").find("/us-east-1/sts/aws4_request"),
      std::string::npos);
}

}  // namespace
}  // namespace aws
