#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "untrusted/secrets.hpp"

namespace {

// The plain rule: each secret in turn, longer ones first, replaced wherever it still stands.
std::string replaced_one_by_one(std::string text, std::vector<std::string> secrets) {
  std::sort(secrets.begin(), secrets.end(), [](const std::string& left, const std::string& right) {
    return left.size() != right.size() ? left.size() > right.size() : left < right;
  });
  secrets.erase(std::unique(secrets.begin(), secrets.end()), secrets.end());
  for (const std::string& secret : secrets) {
    if (text == secret) return std::string(untrusted::SECRET_MARK);
    if (secret.size() < untrusted::SHORTEST_SECRET_REPLACED_INSIDE_TEXT) continue;
    for (auto at = text.find(secret); at != std::string::npos;
         at = text.find(secret, at + untrusted::SECRET_MARK.size()))
      text.replace(at, secret.size(), untrusted::SECRET_MARK);
  }
  return text;
}

std::string random_text(std::mt19937& random, std::size_t longest, std::string_view letters) {
  std::string text(std::uniform_int_distribution<std::size_t>(1, longest)(random), ' ');
  for (char& c : text)
    c = letters[std::uniform_int_distribution<std::size_t>(0, letters.size() - 1)(random)];
  return text;
}

// Few letters, so that secrets overlap, hold one another and repeat inside messages.
TEST(Secrets, ReplacedAsOneAfterAnotherLongerFirstWouldReplaceThem) {
  std::mt19937 random(20261209);
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::string> secrets;
    const int count = std::uniform_int_distribution<int>(1, 6)(random);
    for (int i = 0; i < count; ++i) secrets.push_back(random_text(random, 7, "abc"));
    std::string text = random_text(random, 40, "abc d");
    if (round % 10 == 0) text = secrets.front();
    EXPECT_EQ(untrusted::without_secrets(text, secrets), replaced_one_by_one(text, secrets))
        << "text " << text << ", first secret " << secrets.front();
  }
}

// A run over a whole organisation holds two secrets per account.
TEST(Secrets, EveryOneOfTensOfThousandsIsFound) {
  std::vector<std::string> secrets;
  for (int i = 0; i < 20000; ++i)
    secrets.push_back("IQoJb3JpZ2luX2VjE" + std::to_string(1000000 + i * 7));
  std::string text = "token " + secrets[19999] + " and " + secrets[0] + secrets[12345] + ".";
  EXPECT_EQ(untrusted::without_secrets(text, secrets), "token ******** and ****************.");
  EXPECT_EQ(untrusted::without_secrets("IQoJb3JpZ2luX2VjE1000001", secrets),
            "IQoJb3JpZ2luX2VjE1000001");
}

}  // namespace
