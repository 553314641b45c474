// Signature Version 4 against AWS's published test-suite vectors (region us-east-1, service
// "service", key AKIDEXAMPLE, 2015-08-30T12:36:00Z).

#include "aws/sigv4.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "aws/errors.hpp"
#include "stand_ins.hpp"

namespace aws::sigv4 {
namespace {

const auto VECTOR_TIME = std::chrono::system_clock::from_time_t(1440938160);
const Credentials VECTOR_CREDENTIALS{"AKIDEXAMPLE", "wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY", "",
                                     ""};
constexpr const char* SCOPE =
    "AWS4-HMAC-SHA256 Credential=AKIDEXAMPLE/20150830/us-east-1/service/aws4_request, ";

struct Vector {
  const char* name;
  const char* method;
  const char* path_and_query;
  http::Headers headers;
  const char* signed_headers;
  const char* signature;
  const char* session_token = "";
};

class PublishedVector : public ::testing::TestWithParam<Vector> {};

TEST_P(PublishedVector, GivesThePublishedAuthorizationHeader) {
  const Vector& vector = GetParam();
  http::Request request;
  request.method = vector.method;
  request.url = std::string("https://example.amazonaws.com") + vector.path_and_query;
  request.headers = vector.headers;
  Credentials credentials = VECTOR_CREDENTIALS;
  credentials.session_token = vector.session_token;
  sign(request, credentials, "us-east-1", "service", VECTOR_TIME);
  EXPECT_EQ(testing::header(request, "Authorization"),
            std::string(SCOPE) + "SignedHeaders=" + vector.signed_headers +
                ", Signature=" + vector.signature);
  EXPECT_EQ(testing::header(request, "X-Amz-Date"), "20150830T123600Z");
  EXPECT_EQ(testing::header(request, "Host"), "example.amazonaws.com");
}

INSTANTIATE_TEST_SUITE_P(
    AwsTestSuite, PublishedVector,
    ::testing::Values(
        Vector{"get_vanilla",
               "GET",
               "/",
               {},
               "host;x-amz-date",
               "5fa00fa31553b73ebf1942676e86291e8372ff2a2260956d9b8aae1d763fbf31"},
        Vector{"post_vanilla",
               "POST",
               "/",
               {},
               "host;x-amz-date",
               "5da7c1a2acd57cee7505fc6676e4e544621c30862966e37dddb68e92efbe5d6b"},
        Vector{"get_vanilla_query_order_key_case",
               "GET",
               "/?Param2=value2&Param1=value1",
               {},
               "host;x-amz-date",
               "b97d918cfa904a5beff61c982a1b6f458b799221646efd99d3219ec94cdf2500"},
        Vector{"get_vanilla_empty_query_key",
               "GET",
               "/?Param1=value1",
               {},
               "host;x-amz-date",
               "a67d582fa61cc504c4bae71f336f98b97f1ea3c7a6bfe1b6e45aec72011b9aeb"},
        Vector{"get_vanilla_query_unreserved",
               "GET",
               "/?-._~0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz="
               "-._~0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz",
               {},
               "host;x-amz-date",
               "9c3e54bfcdf0b19771a7f523ee5669cdf59bc7cc0884027167c21bb143a40197"},
        Vector{"get_vanilla_utf8_query",
               "GET",
               "/?\xE1\x88\xB4=bar",
               {},
               "host;x-amz-date",
               "2cdec8eed098649ff3a119c94853b13c643bcf08f8b0a1d91e12c9027818dd04"},
        Vector{"get_utf8",
               "GET",
               "/\xE1\x88\xB4",
               {},
               "host;x-amz-date",
               "8318018e0b0f223aa2bbf98705b62bb787dc9c0e678f255a891fd03141be5d85"},
        Vector{"get_space_normalized",
               "GET",
               "/example space/",
               {},
               "host;x-amz-date",
               "652487583200325589f1fba4c7e578f72c47cb61beeca81406b39ddec1366741"},
        Vector{"get_slashes_normalized",
               "GET",
               "//example//",
               {},
               "host;x-amz-date",
               "9a624bd73a37c9a373b5312afbebe7a714a789de108f0bdfe846570885f57e84"},
        Vector{"get_slash_dot_slash_normalized",
               "GET",
               "/./",
               {},
               "host;x-amz-date",
               "5fa00fa31553b73ebf1942676e86291e8372ff2a2260956d9b8aae1d763fbf31"},
        Vector{"get_relative_relative_normalized",
               "GET",
               "/example1/example2/../..",
               {},
               "host;x-amz-date",
               "5fa00fa31553b73ebf1942676e86291e8372ff2a2260956d9b8aae1d763fbf31"},
        Vector{"get_header_value_trim",
               "GET",
               "/",
               {{"My-Header1", " value1"}, {"My-Header2", " \"a   b   c\""}},
               "host;my-header1;my-header2;x-amz-date",
               "acc3ed3afb60bb290fc8d2dd0098b9911fcaa05412b367055dee359757a9c736"},
        Vector{"get_header_key_duplicate",
               "GET",
               "/",
               {{"My-Header1", "value2"}, {"My-Header1", "value2"}, {"My-Header1", "value1"}},
               "host;my-header1;x-amz-date",
               "c9d5ea9f3f72853aea855b47ea873832890dbdd183b4468f858259531a5138ea"},
        Vector{"get_vanilla_with_session_token",
               "GET",
               "/",
               {},
               "host;x-amz-date;x-amz-security-token",
               "07ec1639c89043aa0e3e2de82b96708f198cceab042d4a97044c66dd9f74e7f8",
               "6e86291e8372ff2a2260956d9b8aae1d763fbf315fa00fa31553b73ebf194267"}),
    [](const ::testing::TestParamInfo<Vector>& vector_info) {
      return std::string(vector_info.param.name);
    });

TEST(CanonicalForms, GetVanillaCanonicalRequestAndStringToSignAreThePublishedOnes) {
  http::Request request;
  request.url = "https://example.amazonaws.com/";
  request.headers = {{"Host", "example.amazonaws.com"}, {"X-Amz-Date", "20150830T123600Z"}};
  std::string signed_headers;
  const std::string canonical = canonical_request(request, signed_headers);
  EXPECT_EQ(canonical,
            "GET\n/\n\nhost:example.amazonaws.com\nx-amz-date:20150830T123600Z\n\nhost;x-amz-date\n"
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(
      string_to_sign("20150830T123600Z", "20150830/us-east-1/service/aws4_request", canonical),
      "AWS4-HMAC-SHA256\n20150830T123600Z\n20150830/us-east-1/service/aws4_request\n"
      "bb579772317eb040ac9ed261061d46c1f17a8133879d6129b6e1c25292927e63");
}

TEST(CanonicalForms, QueryAndPathAreEncodedOnceWhetherOrNotTheyCameEncoded) {
  EXPECT_EQ(canonical_query("b=2&a=%2F&a=1&c"), "a=%2F&a=1&b=2&c=");
  EXPECT_EQ(canonical_query("k=a+b"), "k=a%2Bb");
  EXPECT_EQ(canonical_uri("/a%20b/c d"), "/a%20b/c%20d");
  EXPECT_EQ(canonical_uri(""), "/");
}

TEST(Signing, HostCarriesAnExplicitPortButNotTheDefaultOneAndOldSignaturesAreReplaced) {
  http::Request request;
  request.method = "POST";
  request.url = "http://127.0.0.1:5000/";
  request.headers = {{"Authorization", "stale"}, {"host", "wrong"}, {"User-Agent", "x"}};
  sign(request, VECTOR_CREDENTIALS, "eu-west-1", "ec2", VECTOR_TIME);
  EXPECT_EQ(testing::header(request, "Host"), "127.0.0.1:5000");
  const std::string authorization = testing::header(request, "Authorization");
  EXPECT_NE(authorization, "stale");
  EXPECT_NE(
      authorization.find("/20150830/eu-west-1/ec2/aws4_request, SignedHeaders=host;x-amz-date,"),
      std::string::npos);
  EXPECT_EQ(std::count_if(request.headers.begin(), request.headers.end(),
                          [](const auto& h) {
                            return h.first == "Authorization" || h.first == "host" ||
                                   h.first == "Host";
                          }),
            2);

  EXPECT_EQ(split_url("https://sts.us-east-1.amazonaws.com:443/").authority,
            "sts.us-east-1.amazonaws.com");
  EXPECT_THROW(split_url("ftp://example.com/"), ClientError);
  EXPECT_THROW(split_url("https://user@evil.example/"), ClientError);
}

TEST(Signing, TheSecretNeverAppearsInTheSignedRequest) {
  http::Request request;
  request.method = "POST";
  request.url = "https://ec2.us-east-1.amazonaws.com/";
  request.body = "Action=DescribeVpcs";
  sign(request, VECTOR_CREDENTIALS, "us-east-1", "ec2", VECTOR_TIME);
  for (const auto& [name, value] : request.headers)
    EXPECT_EQ(value.find(VECTOR_CREDENTIALS.secret_access_key), std::string::npos) << name;
}

}  // namespace
}  // namespace aws::sigv4
