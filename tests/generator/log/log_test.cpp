#include "generator/log/log.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <thread>
#include <vector>

#include "generator/log/line_printer.hpp"
#include "support/log_capture.hpp"
#include "untrusted/secrets.hpp"

namespace generator::log {
namespace {

using test_support::CapturedLines;

class FixedClock : public Clock {
 public:
  [[nodiscard]] std::chrono::system_clock::time_point now() const override {
    // 2024-05-01 09:30:05.123 UTC
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(1714555805123LL));
  }
};

// The logger tree is process-wide; each test starts from a "generator" logger with no handlers.
class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    Logger& top = get_logger(TOP_LOGGER);
    for (auto handler : std::vector(top.handlers())) top.remove_handler(handler);
    top.set_level(INFO);
    capture = std::make_shared<CapturedLines>();
    capture->set_formatter(std::make_shared<Formatter>(LOG_FORMAT));
    top.add_handler(capture);
    set_clock(std::make_shared<FixedClock>());
  }
  void TearDown() override {
    get_logger(TOP_LOGGER).remove_handler(capture);
    set_clock(nullptr);
  }
  std::shared_ptr<CapturedLines> capture;
};

void main() { get_logger("generator.convert").info("Loading VPC data from {}", "book.xlsx"); }

TEST_F(LoggerTest, ThreeLayoutsRenderTheDocumentedLines) {
  main();
  capture->set_formatter(DEBUG_FORMATTER);
  main();
  capture->set_formatter(QUIET_FORMATTER);
  main();
  ASSERT_EQ(capture->lines.size(), 3u);
  EXPECT_EQ(capture->lines[0], "generator.convert:INFO Loading VPC data from book.xlsx");
  EXPECT_EQ(capture->lines[1],
            "2024-05-01 09:30:05,123 INFO generator.convert:main Loading VPC data from book.xlsx");
  EXPECT_EQ(capture->lines[2], "INFO: Loading VPC data from book.xlsx");
}

TEST_F(LoggerTest, LevelStepsClampAndSwitchLayoutByIdentity) {
  Logger& top = get_logger(TOP_LOGGER);
  increase_logging_level();
  EXPECT_EQ(top.effective_level(), DEBUG);
  EXPECT_EQ(capture->formatter(), DEBUG_FORMATTER);
  increase_logging_level();
  EXPECT_EQ(top.effective_level(), DEBUG);
  decrease_logging_level();
  EXPECT_EQ(top.effective_level(), INFO);
  EXPECT_EQ(capture->formatter(), QUIET_FORMATTER);
  for (int expected : {WARNING, ERROR, CRITICAL, CRITICAL}) {
    decrease_logging_level();
    EXPECT_EQ(top.effective_level(), expected);
  }
  // A formatter with the same template is still replaced: identity, not text, decides.
  capture->set_formatter(std::make_shared<Formatter>(LOG_DEBUG_FORMAT));
  increase_logging_level();
  EXPECT_EQ(capture->formatter(), DEBUG_FORMATTER);
}

TEST_F(LoggerTest, MessagesBelowTheLevelAreDroppedWithoutRenderingArguments) {
  get_logger(TOP_LOGGER).set_level(WARNING);
  get_logger("generator.convert").info("dropped {}", "x");
  get_logger("generator.convert").warning("kept {} of {}", 1, std::optional<int>());
  ASSERT_EQ(capture->lines.size(), 1u);
  EXPECT_EQ(capture->lines[0], "generator.convert:WARNING kept 1 of None");
}

TEST_F(LoggerTest, EveryHandlerWritesAndEveryHandlerSwitches) {
  auto second = std::make_shared<CapturedLines>();
  get_logger(TOP_LOGGER).add_handler(second);
  decrease_logging_level();
  get_logger("generator.generate").error("twice");
  EXPECT_EQ(capture->lines, std::vector<std::string>{"ERROR: twice"});
  EXPECT_EQ(second->lines, std::vector<std::string>{"ERROR: twice"});
  get_logger(TOP_LOGGER).remove_handler(second);
}

TEST(LoggingLevel, CountMapsToLevelWithoutClamp) {
  EXPECT_EQ(_get_logging_level(1), 40);
  EXPECT_EQ(_get_logging_level(2), 30);
  EXPECT_EQ(_get_logging_level(3), 20);
  EXPECT_EQ(_get_logging_level(0), 20);
  EXPECT_EQ(_get_logging_level(std::nullopt), 20);
  EXPECT_EQ(_get_logging_level(4), 10);
  EXPECT_EQ(_get_logging_level(5), 0);
}

TEST_F(LoggerTest, FieldsAreFilledInOrderAndEverythingElseIsWrittenAsItStands) {
  get_logger("generator.convert").info("{} of {}: 100% {{kept}} %s", 1, "{} %s");
  EXPECT_EQ(capture->lines,
            std::vector<std::string>{"generator.convert:INFO 1 of {} %s: 100% {kept} %s"});
}

TEST(Readable, DocumentsOverIndentedLinesWithDatesAsTheirText) {
  nlohmann::ordered_json document = {{"row", 2}, {"cells", {{"when", nullptr}, {"raw", nullptr}}}};
  const std::string date = "2024-05-01 13:45:00";
  document["cells"]["when"] =
      nlohmann::ordered_json::binary(std::vector<std::uint8_t>(date.begin(), date.end()), 0x7473);
  document["cells"]["raw"] = nlohmann::ordered_json::binary({0x00, 0xFF});
  const std::string text = to_log_text(Readable{document});
  EXPECT_NE(text.find("{\n  \"row\": 2,\n  \"cells\": {\n    \"when\": \"2024-05-01 13:45:00\","),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\"raw\": {\n      \"bytes\": [0, 255],"), std::string::npos)
      << "unprintable bytes stay bytes: " << text;
}

// The steps of a run, as the debug layout names them.
void describe_regions(Issuer caller = Issuer()) {
  get_logger("generator.generate").info({caller, "for the caller"});
  get_logger("generator.generate").info("its own");
}

struct Pass {
  Pass() { get_logger("generator.generate").info("made"); }
  void run() const {
    const Issuer here;
    const auto each = [&] { get_logger("generator.generate").info({here, "in a lambda"}); };
    each();
    describe_regions();
  }
};

TEST_F(LoggerTest, TheFunctionNameFieldIsTheIssuingFunctionOrTheStepItIssuesFor) {
  capture->set_formatter(std::make_shared<Formatter>("{funcName} {message}"));
  Pass().run();
  get_logger("generator.generate").info({Issuer("generate_min_discovery_yaml"), "for a pass"});
  EXPECT_EQ(capture->lines,
            (std::vector<std::string>{"Pass made", "run in a lambda", "run for the caller",
                                      "describe_regions its own",
                                      "generate_min_discovery_yaml for a pass"}));
}

TEST(StandardError, EachMessageIsOneWriteWithTheStatusLineErasedBeforeAndDrawnAfter) {
  std::vector<std::string> writes;
  LinePrinter printer([&](std::string_view text) { writes.emplace_back(text); });
  StandardErrorHandler handler(printer);
  handler.set_formatter(std::make_shared<Formatter>(LOG_QUIET_FORMAT));
  const Record record{"generator.generate", WARNING, "main", {}, "all is well"};
  handler.handle(record);
  printer.set_status("scan: account 1 of 2");
  printer.set_status("scan: account 1 of 2");
  // Messages from several scanning threads at once, each still in one piece.
  std::vector<std::thread> threads;
  for (int thread = 0; thread < 4; ++thread)
    threads.emplace_back([&] {
      for (int message = 0; message < 25; ++message) handler.handle(record);
    });
  for (auto& thread : threads) thread.join();
  printer.set_status("");
  ASSERT_EQ(writes.size(), 103u) << "an unchanged status line is not drawn again";
  EXPECT_EQ(writes.front(), "WARNING: all is well\n") << "no status line, nothing to erase";
  EXPECT_EQ(writes[1], "\r\x1b[Kscan: account 1 of 2");
  for (std::size_t i = 2; i < 102; ++i)
    EXPECT_EQ(writes[i], "\r\x1b[KWARNING: all is well\nscan: account 1 of 2") << i;
  EXPECT_EQ(writes.back(), "\r\x1b[K");
}

TEST(RootLogger, StartsAtWarningWhenNothingIsConfigured) {
  EXPECT_EQ(get_logger("").effective_level(), WARNING);
  EXPECT_EQ(&get_logger("generator.a.b"), &get_logger("generator.a.b"));
  EXPECT_EQ(get_logger("generator.a.b").name(), "generator.a.b");
}

TEST_F(LoggerTest, ArgumentsCannotSteerTheTerminalButRenderingsKeepTheirLines) {
  // ESC (retitle), CR (overwrite the line), BEL, DEL, the C1 CSI U+009B and a byte that is not
  // UTF-8, as a workbook cell or a peer may hold them; the template's own line break stays.
  const std::string cell =
      "a\x1b]0;title\x07\rb\x7f\xc2\x9b"
      "2J\xff\tc\nd";
  get_logger("generator.convert").info("Record:\n{}", cell);
  get_logger("generator.convert").info("Row: {}", Readable{nlohmann::ordered_json{{"v", cell}}});
  ASSERT_EQ(capture->lines.size(), 2u);
  EXPECT_EQ(capture->lines[0],
            "generator.convert:INFO Record:\na\\x1b]0;title\\x07\\rb\\x7f\\u009b2J\\xff\tc\nd");
  EXPECT_EQ(capture->lines[1].find('\x1b'), std::string::npos) << capture->lines[1];
  EXPECT_NE(capture->lines[1].find("\\u009b2J"), std::string::npos) << capture->lines[1];
}

TEST_F(LoggerTest, SecretsHeldByTheRunNeverReachAHandlerWhateverEchoedThem) {
  // Held from another thread, as the scan's workers hold the credentials they receive.
  std::thread([] {
    untrusted::hold_secret("web-identity-token\r\nX");
    untrusted::hold_secret("pw");
  }).join();
  get_logger("generator.generate").error("STS said: {}", "bad token web-identity-token\r\nX!");
  get_logger("generator.generate").error("Portal said: unauthorized web-identity-token\\r\\nX");
  get_logger("generator.generate").error("{} and pwd", "pw");
  ASSERT_EQ(capture->lines.size(), 3u);
  EXPECT_EQ(capture->lines[0], "generator.generate:ERROR STS said: bad token ********!");
  EXPECT_EQ(capture->lines[1], "generator.generate:ERROR Portal said: unauthorized ********");
  // Too short to be replaced inside words, but not shown where it stands alone.
  EXPECT_EQ(capture->lines[2], "generator.generate:ERROR ******** and pwd");
}

}  // namespace
}  // namespace generator::log
