#include "base/files/atomic_file.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/errors.hpp"

namespace base::files {
namespace {

namespace fs = std::filesystem;

class AtomicFile : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    directory_ = fs::path(TEST_SCRATCH_DIR) / "atomic_file" / info->name();
    fs::remove_all(directory_);
    fs::create_directories(directory_);
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(directory_);
  }

  static std::string read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  static void write(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }

  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory_))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path directory_;
};

TEST_F(AtomicFile, CreatesANewFileWithTheUsualModeAndLeavesNothingElse) {
  const fs::path target = directory_ / "out.yaml";
  write_text_atomically(target, "a: 1\n");
  EXPECT_EQ(read(target), "a: 1\n");
  EXPECT_EQ(entries(), std::vector<std::string>{"out.yaml"});
  const mode_t mask = ::umask(0);
  ::umask(mask);
  struct stat status {};
  ASSERT_EQ(::stat(target.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0666 & ~mask);

  // A name of the longest length a folder takes leaves no room for a temporary name that holds it
  // whole; it is written all the same.
  std::string longest;
  for (int letter = 0; letter < 124; ++letter) longest += "\u00e9";
  longest += "xy.yaml";
  ASSERT_EQ(longest.size(), std::size_t{NAME_MAX});
  write_text_atomically(directory_ / longest, "b: 2\n");
  EXPECT_EQ(read(directory_ / longest), "b: 2\n");
  EXPECT_EQ(entries(), (std::vector<std::string>{"out.yaml", longest}));
}

TEST_F(AtomicFile, ReplacesAnExistingFileAndKeepsItsMode) {
  const fs::path target = directory_ / "out.yaml";
  write(target, "old contents that are longer than the new ones\n");
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  write_text_atomically(target, "new\n");
  EXPECT_EQ(read(target), "new\n");
  struct stat status {};
  ASSERT_EQ(::stat(target.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640);
  EXPECT_EQ(entries(), std::vector<std::string>{"out.yaml"});
}

TEST_F(AtomicFile, AFileForTheOwnerOnlyIsWrittenSoWhateverTheOldOneAllowed) {
  const fs::path target = directory_ / "token.json";
  write(target, "{}");
  ASSERT_EQ(::chmod(target.c_str(), 0644), 0);
  write_text_atomically(target, "{\"accessToken\":\"t\"}", FileAccess::owner_only);
  EXPECT_EQ(read(target), "{\"accessToken\":\"t\"}");
  struct stat status {};
  ASSERT_EQ(::stat(target.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600);
}

TEST_F(AtomicFile, AWriterThatFailsPartWayLeavesTheOldFileAndNoTemporaryFile) {
  const fs::path target = directory_ / "out.yaml";
  write(target, "precious\n");
  EXPECT_THROW(replace_file_atomically(target,
                                       [](const fs::path& temporary) {
                                         write(temporary, "half writ");
                                         throw std::runtime_error("disk on fire");
                                       }),
               std::runtime_error);
  EXPECT_EQ(read(target), "precious\n");
  EXPECT_EQ(entries(), std::vector<std::string>{"out.yaml"});
}

TEST_F(AtomicFile, AMissingDirectoryFailsWithOSErrorNamingTheTarget) {
  const fs::path target = directory_ / "missing" / "out.yaml";
  try {
    write_text_atomically(target, "x\n");
    FAIL() << "no error";
  } catch (const OSError& error) {
    EXPECT_NE(std::string(error.what()).find(target.string()), std::string::npos) << error.what();
    // The reason alone, for a caller that names the file in words of its own.
    EXPECT_NE(error.reason().find("does not exist"), std::string::npos) << error.reason();
    EXPECT_EQ(error.what(), "Cannot write " + target.string() + ": " + error.reason());
  }
  EXPECT_FALSE(fs::exists(directory_ / "missing"));
}

TEST_F(AtomicFile, ATargetThatIsNoRegularFileIsRefusedAndNoTemporaryFileStays) {
  fs::create_directory(directory_ / "out.yaml");
  EXPECT_THROW(write_text_atomically(directory_ / "out.yaml", "x\n"), OSError);
  EXPECT_TRUE(fs::is_directory(directory_ / "out.yaml"));
  ASSERT_EQ(::mkfifo((directory_ / "pipe.yaml").c_str(), 0600), 0);
  fs::create_symlink("pipe.yaml", directory_ / "link.yaml");
  for (const char* name : {"pipe.yaml", "link.yaml"}) {
    try {
      write_text_atomically(directory_ / name, "x\n");
      ADD_FAILURE() << "no error for " << name;
    } catch (const OSError& error) {
      EXPECT_NE(std::string(error.what()).find("a named pipe, not a regular file"),
                std::string::npos)
          << error.what();
    }
  }
  EXPECT_TRUE(fs::is_fifo(directory_ / "pipe.yaml"));
  EXPECT_EQ(entries(), (std::vector<std::string>{"link.yaml", "out.yaml", "pipe.yaml"}));
}

TEST_F(AtomicFile, ALinkHasTheFileItLeadsToReplacedAndStaysALink) {
  fs::create_directory(directory_ / "real");
  write(directory_ / "real" / "out.yaml", "old\n");
  fs::create_symlink("real/out.yaml", directory_ / "link.yaml");
  fs::create_symlink("link.yaml", directory_ / "chain.yaml");
  fs::create_symlink("real/new.yaml", directory_ / "dangling.yaml");
  write_text_atomically(directory_ / "chain.yaml", "new\n");
  write_text_atomically(directory_ / "dangling.yaml", "created\n");
  EXPECT_EQ(read(directory_ / "real" / "out.yaml"), "new\n");
  EXPECT_EQ(read(directory_ / "real" / "new.yaml"), "created\n");
  for (const char* name : {"link.yaml", "chain.yaml", "dangling.yaml"})
    EXPECT_TRUE(fs::is_symlink(directory_ / name)) << name;
  EXPECT_EQ(entries(),
            (std::vector<std::string>{"chain.yaml", "dangling.yaml", "link.yaml", "real"}));
  EXPECT_EQ(fs::read_symlink(directory_ / "link.yaml"), "real/out.yaml");
}

// Runs `write` in a child process, which tells when it has written half (`half_done`) and waits
// there until `signal_number` stops it (without a core dump); `check_half_way` runs meanwhile. The
// child gives up by itself (SIGALRM) should the signal never come. True when the signal stopped it.
bool stopped_half_way(int signal_number, const std::function<void(const std::function<void()>&)>& write,
                      const std::function<void()>& check_half_way) {
  int ready[2];
  if (::pipe(ready) != 0) return false;
  const pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    ::close(ready[0]);
    const rlimit no_core{0, 0};
    ::setrlimit(RLIMIT_CORE, &no_core);
    ::alarm(30);
    write([&] {
      const char byte = 'x';
      if (::write(ready[1], &byte, 1) != 1) ::_exit(3);
      for (;;) ::pause();
    });
    ::_exit(4);
  }
  ::close(ready[1]);
  char byte = 0;
  const ssize_t got = ::read(ready[0], &byte, 1);
  ::close(ready[0]);
  EXPECT_EQ(got, 1);
  check_half_way();
  ::kill(child, signal_number);
  int status = 0;
  if (::waitpid(child, &status, 0) != child) return false;
  return WIFSIGNALED(status) && WTERMSIG(status) == signal_number;
}

// Every signal whose default action ends the process tidies up first, those that dump a core too.
TEST_F(AtomicFile, AStoppingSignalRemovesTheTemporaryFileAndStillStopsTheProcess) {
  const fs::path target = directory_ / "out.yaml";
  write(target, "precious\n");
  for (const int signal_number : {SIGINT, SIGTERM, SIGQUIT, SIGUSR1, SIGPIPE, SIGXFSZ, SIGRTMIN}) {
    EXPECT_TRUE(stopped_half_way(
        signal_number,
        [&](const std::function<void()>& half_done) {
          replace_file_atomically(target, [&](const fs::path& temporary) {
            write(temporary, "half writ");
            half_done();
          });
        },
        // The temporary file stands beside the target.
        [&] { EXPECT_EQ(entries().size(), 2U); }))
        << signal_number;
    EXPECT_EQ(entries(), std::vector<std::string>{"out.yaml"}) << signal_number;
    EXPECT_EQ(read(target), "precious\n");
  }
  // A folder being written, with the files in it, goes the same way.
  EXPECT_TRUE(stopped_half_way(
      SIGTERM,
      [&](const std::function<void()>& half_done) {
        FolderReplacement folder(directory_ / "pages");
        for (int page = 0; page < 300; ++page)
          folder.write_file("page-" + std::to_string(page) + ".html", "half writ");
        half_done();
      },
      [&] { EXPECT_EQ(entries().size(), 2U); }));
  EXPECT_EQ(entries(), std::vector<std::string>{"out.yaml"});
}

// A folder of pages and the page that goes with it: both are replaced, or neither.
TEST_F(AtomicFile, AFolderIsReplacedWholeWithItsPageOrNotAtAll) {
  const fs::path folder = directory_ / "map_files";
  const fs::path page = directory_ / "map.html";
  fs::create_directory(folder);
  write(folder / "old.html", "old\n");
  write(page, "old page\n");
  {
    FolderReplacement replacement(folder);
    replacement.write_file("a.html", "first");
    replacement.write_file("a.html", "second");
    EXPECT_EQ(replacement.read_file("a.html"), "second");
    AtomicFileWriter first_page(page);
    first_page.append("new page\n");
    EXPECT_THROW(replacement.commit([&] { throw std::runtime_error("the page failed"); }),
                 std::runtime_error);
  }
  EXPECT_EQ(entries(), (std::vector<std::string>{"map.html", "map_files"}));
  EXPECT_EQ(read(folder / "old.html"), "old\n");
  EXPECT_EQ(read(page), "old page\n");

  {
    FolderReplacement replacement(folder);
    replacement.write_file("a.html", "new\n");
    AtomicFileWriter first_page(page);
    first_page.append("new page\n");
    replacement.commit([&] { first_page.commit(); });
  }
  EXPECT_EQ(entries(), (std::vector<std::string>{"map.html", "map_files"}));
  EXPECT_FALSE(fs::exists(folder / "old.html"));
  EXPECT_EQ(read(folder / "a.html"), "new\n");
  EXPECT_EQ(read(page), "new page\n");
  EXPECT_EQ(fs::status(folder).permissions() & fs::perms::others_read, fs::perms::others_read);

  // Where none stood, the folder is created; a file in its place is refused before anything.
  fs::remove_all(folder);
  {
    FolderReplacement replacement(folder);
    replacement.write_file("b.html", "b");
    replacement.commit();
  }
  EXPECT_EQ(read(folder / "b.html"), "b");
  fs::remove_all(folder);
  write(folder, "a file\n");
  EXPECT_THROW(FolderReplacement{folder}, OSError);
  EXPECT_EQ(entries(), (std::vector<std::string>{"map.html", "map_files"}));
}

// A file size limit makes write() fail part-way, like a full disk.
TEST_F(AtomicFile, AFailedWriteLeavesTheOldFileIntact) {
  const fs::path target = directory_ / "out.yaml";
  write(target, "precious\n");
  rlimit original{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &original), 0);
  const auto previous_handler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit small = original;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  bool failed = false;
  try {
    write_text_atomically(target, std::string(100000, 'x'));
  } catch (const OSError&) {
    failed = true;
  }
  ::setrlimit(RLIMIT_FSIZE, &original);
  ::signal(SIGXFSZ, previous_handler);
  EXPECT_TRUE(failed);
  EXPECT_EQ(read(target), "precious\n");
  EXPECT_EQ(entries(), std::vector<std::string>{"out.yaml"});
}

}  // namespace
}  // namespace base::files
