#include "generator/cli/cli.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "generator/common/errors.hpp"
#include "generator/log/log.hpp"
#include "support/log_capture.hpp"

namespace generator::cli {
namespace {

// A program parser like generate's: the shared options plus a flag and three value options.
class ParserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log::Logger& top = log::get_logger(log::TOP_LOGGER);
    for (auto existing : std::vector(top.handlers())) top.remove_handler(existing);
    handler = std::make_shared<test_support::CapturedLines>();
    top.add_handler(handler);
    top.set_level(log::INFO);
  }
  void TearDown() override { log::get_logger(log::TOP_LOGGER).remove_handler(handler); }

  // What a parser of make_parser() fills.
  struct Options {
    SharedOptions shared;
    bool example_config = false;
    std::optional<std::string> config_path;
    std::optional<std::string> excel;
    std::optional<std::string> yaml;
    std::optional<std::string> template_path;
  };

  // A new parser that fills `options`, emptied first.
  ArgumentParser make_parser() {
    options = Options{};
    ParserSettings settings;
    settings.prog = "generate";
    settings.description = "Generate discovery yaml and Excel file";
    settings.parents = get_parent_parser(options.shared);
    ArgumentParser parser(std::move(settings));
    parser.add_action(std::make_shared<StoreTrueAction>(
        std::vector<std::string>{"--example-config"}, options.example_config,
        "Generate an example config file."));
    parser.add_action(std::make_shared<StoreAction>(std::vector<std::string>{"-c", "--config"},
                                                    options.config_path, "Configuration file",
                                                    "config_file"));
    parser.add_action(std::make_shared<StoreAction>(std::vector<std::string>{"-e", "--excel"},
                                                    options.excel, "Workbook", "excel_file"));
    parser.set_output(out);
    return parser;
  }

  std::string usage_error(const std::vector<std::string>& args) {
    auto parser = make_parser();
    try {
      parser.parse_args(args);
    } catch (const UsageError& error) {
      return error.what();
    }
    return "(accepted)";
  }

  int level() const { return log::get_logger(log::TOP_LOGGER).effective_level(); }
  const log::Formatter* layout() const { return handler->formatter().get(); }

  // The level and layout a command line leaves once its verbosity is applied.
  void parse_and_apply(const std::vector<std::string>& args) {
    auto parser = make_parser();
    parser.parse_args(args);
    apply_verbosity(options.shared);
  }

  std::shared_ptr<test_support::CapturedLines> handler;
  std::ostringstream out;
  Options options;
};

TEST_F(ParserTest, ValueOptionsInEveryUsualSpelling) {
  for (const auto& args : std::vector<std::vector<std::string>>{{"-c", "cfg.yaml"},
                                                                {"-ccfg.yaml"},
                                                                {"--config", "cfg.yaml"},
                                                                {"--config=cfg.yaml"},
                                                                {"-c=cfg.yaml"},
                                                                {"-vc", "cfg.yaml"},
                                                                {"--conf", "cfg.yaml"}}) {
    make_parser().parse_args(args);
    EXPECT_EQ(options.config_path, "cfg.yaml") << args.front();
  }
  make_parser().parse_args({});
  EXPECT_FALSE(options.config_path);
  EXPECT_FALSE(options.example_config);
  EXPECT_TRUE(options.shared.verbosity.empty());
}

TEST_F(ParserTest, UnambiguousPrefixesAreAcceptedAndAmbiguousOnesRefused) {
  make_parser().parse_args({"--exa"});
  EXPECT_TRUE(options.example_config);
  make_parser().parse_args({"--exc", "x.xlsx"});
  EXPECT_EQ(options.excel, "x.xlsx");
  EXPECT_EQ(usage_error({"--ex"}), "ambiguous option: --ex could match --example-config, --excel");
  EXPECT_EQ(usage_error({"--ver"}), "ambiguous option: --ver could match --version, --verbose");
  EXPECT_EQ(usage_error({"--verb"}), "(accepted)");
}

TEST_F(ParserTest, MalformedCommandLinesAreUsageErrors) {
  EXPECT_EQ(usage_error({"-c"}), "argument -c/--config: expected one argument");
  EXPECT_EQ(usage_error({"-c", "--excel", "x"}), "argument -c/--config: expected one argument");
  EXPECT_EQ(usage_error({"--verbose=2"}), "argument --verbose/-v: ignored explicit argument '2'");
  EXPECT_EQ(usage_error({"--bogus", "stray"}), "unrecognized arguments: --bogus stray");
  EXPECT_EQ(usage_error({"-vz"}), "argument --verbose/-v: ignored explicit argument 'z'");
  EXPECT_EQ(usage_error({"-v=1"}), "argument --verbose/-v: ignored explicit argument '1'");
  EXPECT_EQ(usage_error({"-vc"}), "argument -c/--config: expected one argument");
}

TEST_F(ParserTest, RequiredOptionsAreNamedTogetherBeforeStrayArgumentsAndShownWithoutBrackets) {
  const auto required_parser = [this] {
    auto parser = make_parser();
    parser.add_action(std::make_shared<StoreAction>(std::vector<std::string>{"-y", "--yaml"},
                                                    options.yaml, "Output", "",
                                                    Requirement::required));
    parser.add_action(std::make_shared<StoreAction>(std::vector<std::string>{"--template"},
                                                    options.template_path, "Template", "",
                                                    Requirement::required));
    return parser;
  };
  const auto error_of = [&](const std::vector<std::string>& args) -> std::string {
    try {
      required_parser().parse_args(args);
    } catch (const UsageError& error) {
      return std::string(error.usage()) + "|" + error.what();
    }
    return "(accepted)";
  };
  EXPECT_EQ(error_of({"--example-config", "stray"}),
            "usage: generate [-h] [--version] [--verbose] [--quiet] [--example-config]\n"
            "                [-c config_file] [-e excel_file] -y YAML --template TEMPLATE\n"
            "|the following arguments are required: -y/--yaml, --template");
  EXPECT_EQ(error_of({"--templ", "t.yaml", "-y", "o.yaml"}), "(accepted)");
  EXPECT_EQ(error_of({"-y", "o.yaml"}).substr(error_of({"-y", "o.yaml"}).find('|')),
            "|the following arguments are required: --template");
}

TEST_F(ParserTest, VerbosityStepsRunInCommandLineOrderPerLetter) {
  make_parser().parse_args({"-v"});
  EXPECT_EQ(level(), log::INFO) << "parsing alone changes nothing";
  apply_verbosity(options.shared);
  EXPECT_EQ(level(), log::DEBUG);
  EXPECT_EQ(layout(), log::DEBUG_FORMATTER.get());

  parse_and_apply({"-q"});  // from DEBUG back to INFO, quiet layout
  EXPECT_EQ(level(), log::INFO);
  EXPECT_EQ(layout(), log::QUIET_FORMATTER.get());

  parse_and_apply({"-qv"});  // WARNING, then INFO again, debug layout last
  EXPECT_EQ(level(), log::INFO);
  EXPECT_EQ(layout(), log::DEBUG_FORMATTER.get());
  EXPECT_EQ(options.shared.verbosity,
            (std::vector<VerbosityStep>{VerbosityStep::less, VerbosityStep::more}));

  parse_and_apply({"-qqqq", "--quiet"});
  EXPECT_EQ(level(), log::CRITICAL);
  EXPECT_EQ(options.shared.verbosity.size(), 5u);

  parse_and_apply({"-vvvvvv"});
  EXPECT_EQ(level(), log::DEBUG);
  EXPECT_EQ(options.shared.verbosity.size(), 6u);
}

TEST_F(ParserTest, VersionPrintsProgramNameAndEndsAtOnce) {
  auto parser = make_parser();
  try {
    parser.parse_args({"-q", "--version", "--bogus", "-c"});
    FAIL() << "--version did not end the parse";
  } catch (const EarlyExit& exit) {
    EXPECT_EQ(exit.status(), 0);
  }
  EXPECT_EQ(out.str(), "generate " + package_version() + "\n");
}

TEST_F(ParserTest, HelpListsSharedOptionsFirstWithTheirTexts) {
  auto parser = make_parser();
  EXPECT_THROW(parser.parse_args({"-h"}), EarlyExit);
  const std::string help = out.str();
  EXPECT_EQ(
      help.rfind("usage: generate [-h] [--version] [--verbose] [--quiet] [--example-config]", 0),
      0u)
      << help;
  for (const char* line : {"  -h, --help            show this help message and exit\n",
                           "  --verbose, -v         Increase verbosity of the generator\n",
                           "  --quiet, -q           decrease verbosity of the generator\n",
                           "  -c config_file, --config config_file\n"}) {
    EXPECT_NE(help.find(line), std::string::npos) << line << " missing from\n" << help;
  }
  EXPECT_LT(help.find("--version"), help.find("--example-config"));
}

TEST(ParentParser, HasNoHelpOptionAndTheThreeSharedOptionsInOrder) {
  SharedOptions shared;
  const auto parents = get_parent_parser(shared);
  ASSERT_EQ(parents.size(), 1u);
  EXPECT_EQ(parents[0]->prog(), "discovery-generator");
  std::vector<std::string> first_spellings;
  for (const auto& action : parents[0]->actions())
    first_spellings.push_back(action->option_strings().front());
  EXPECT_EQ(first_spellings, (std::vector<std::string>{"--version", "--verbose", "--quiet"}));
  EXPECT_NE(get_parent_parser(shared)[0], parents[0]) << "every call builds a new parser";
}

}  // namespace
}  // namespace generator::cli
