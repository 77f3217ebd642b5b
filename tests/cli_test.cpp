// DERURUZUD-cli as a child process against quivo-sim: the rollout rules one device meets
// (the version policy, a dry run, signed, tampered and unsigned data files, checksums), the
// exit status and report of each, its refusals of bad input, and the record a killed run
// leaves behind, put back with --restore-xport. Also what only POSIX can stand in for: a
// state folder that cannot be written.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "sim/simulator.h"
#include "support/temp_dir.h"
#include "support/update_harness.h"

namespace {

// Runs the program with its standard input from /dev/null (no terminal, so nothing waits):
// its exit status, its standard output and its standard error (after "\n--\n").
std::pair<int, std::string> RunCli(const std::string& args, const std::string& env = "") {
  const std::string cmd =
      env + " " + std::string(DERURUZUD_CLI_PATH) + " " + args + " </dev/null 2>/tmp/cli_err$$; " +
      "s=$?; echo; echo --; cat /tmp/cli_err$$; rm -f /tmp/cli_err$$; exit $s";
  std::string output;
  std::FILE* p = ::popen(cmd.c_str(), "r");
  char buf[4096];
  for (std::size_t n; p && (n = std::fread(buf, 1, sizeof buf, p)) > 0;) output.append(buf, n);
  const int st = p ? ::pclose(p) : -1;
  return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, output};
}

sim::Config Device(std::uint16_t version = 12) {
  sim::Config c;
  c.address = "127.0.0.1";
  c.tcpPort = 0;
  c.settleMs = 0;
  sim::Memory m;
  m.fill(0x3FFF);
  m[sim::kVersionWord] = version;
  c.memory = m;
  return c;
}

void Shell(const std::string& command) {
  ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
}

// What each rule makes of one device, as the exit status and the report say it. Nothing
// here writes a device (each write costs its 5.6 s of pauses in a real process); the
// writing under each rule is update_test's, in process.
TEST(Cli, RolloutRulesTellTheirOutcome) {
  testing_support::TempDir dir;
  const std::string d = dir.path() + "/";
  const std::string hex = dir.Write("quivo.HEX", sim::SampleHex(21));
  // A key pair, the data file signed (minisign's default: its BLAKE2b-512 hash signed), a
  // tampered copy with the same signature, a file signed by another key.
  Shell("cd " + d + " && minisign -G -W -p k.pub -s k.sec && minisign -G -W -p o.pub -s o.sec");
  Shell("cd " + d + " && minisign -S -s k.sec -m quivo.HEX -t 'release 21'");
  std::string tampered = sim::SampleHex(21);
  tampered[40] = tampered[40] == 'F' ? 'E' : 'F';
  dir.Write("tampered.HEX", tampered);
  Shell("cp " + d + "quivo.HEX.minisig " + d + "tampered.HEX.minisig");
  dir.Write("other.HEX", sim::SampleHex(21));
  Shell("cd " + d + " && minisign -S -s o.sec -m other.HEX");
  std::string badSums = sim::SampleHex(21);
  badSums[badSums.find('\n') - 1] ^= 1;  // the first record's checksum
  const std::string sums = dir.Write("sums.HEX", badSums);
  const std::string trusted = " --trusted-key " + d + "k.pub";
  const std::string env = "XDG_CONFIG_HOME=" + d + "config XDG_STATE_HOME=" + d + "state";

  const struct {
    const char* what;
    std::uint16_t before;
    std::string args;
    int status;
    const char* result;
    const char* says;  // in the output
  } cases[] = {
      {"equal: skipped", 21, "--data-file " + hex + trusted, 0, "skipped", "\"skipped\""},
      {"newer: refused", 30, "--data-file " + hex + trusted, 1, "refused", "\"refused\""},
      {"dry run, signed", 12, "--dry-run --data-file " + hex + trusted, 0, "would_update",
       "release 21"},
      {"tampered", 12, "--data-file " + d + "tampered.HEX" + trusted, 1, "failed", "signature_bad"},
      {"untrusted key", 12, "--data-file " + d + "other.HEX" + trusted, 1, "failed",
       "signature_untrusted"},
      {"unsigned, required", 12, "--require-signature --data-file " + sums, 1, "failed",
       "signature_missing"},
      {"checksums, unattended", 12, "--data-file " + sums, 1, "failed", "checksum_errors"},
      {"no data file", 12, "--data-file " + d + "none.HEX", 1, "failed", "Can't open"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Simulator device(Device(c.before));
    std::string error;
    ASSERT_TRUE(device.Start(&error)) << error;
    const auto [status, output] = RunCli(
        "--address 127.0.0.1 --port " + std::to_string(device.TcpPort()) + " --yes --json - " +
            c.args, env);
    EXPECT_TRUE(device.WaitForNoConnection(2000));
    EXPECT_EQ(status, c.status) << output;
    EXPECT_EQ(device.VersionWord(), c.before);
    EXPECT_EQ(device.DataBlocks(), 0);
    EXPECT_NE(output.find(c.says), std::string::npos) << output;
    const auto json = nlohmann::json::parse(output.substr(0, output.find("\n--\n")), nullptr, false);
    ASSERT_FALSE(json.is_discarded()) << output;
    EXPECT_EQ(json["devices"][0]["result"], c.result) << output;
    // A data file that may not be written reaches no device; a device judged by its
    // version still gets its leave command.
    const bool fileRefused = c.status == 1 && c.before == 12;
    EXPECT_EQ(device.Connections(), fileRefused ? 0 : 1);
    EXPECT_EQ(device.LeaveCommands(), fileRefused ? 0 : 1);
    if (std::string(c.what) == "dry run, signed") {
      // The key id as minisign prints it in the public key's comment.
      std::string pub;
      std::FILE* f = std::fopen((d + "k.pub").c_str(), "r");
      char line[256] = {};
      if (f && std::fgets(line, sizeof line, f)) pub = line;
      if (f) std::fclose(f);
      const std::string keyId = json["data_file"]["signature"]["key_id"];
      EXPECT_NE(pub.find(keyId), std::string::npos) << pub;
      EXPECT_EQ(json["data_file"]["sha256"].get<std::string>().size(), 64u);
    }
  }
  // A history line that cannot be written is said, and does not change the outcome.
  sim::Simulator device(Device(21));
  std::string error;
  ASSERT_TRUE(device.Start(&error)) << error;
  const auto [status, output] =
      RunCli("--lang en --address 127.0.0.1 --port " + std::to_string(device.TcpPort()) +
                 " --yes --data-file " + hex + trusted,
             "XDG_STATE_HOME=" + dir.Write("a-file", "x"));
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("Could not write the history line to " + d + "a-file"), std::string::npos)
      << output;
}

TEST(Cli, BadInputIsRefusedBeforeAnythingIsSent) {
  testing_support::TempDir dir;
  const std::string hex = dir.Write("q.HEX", sim::SampleHex(2));
  const std::string garbage = dir.Write("garbage.txt", "not a key\n");
  const std::string report = dir.Write("r.json", "{\"devices\": 3}");
  const std::string device = "--address 127.0.0.9 --yes --data-file " + hex + " ";
  for (const std::string& args : std::vector<std::string>{
           "--no-such-flag", device + "--canary 0", device + "--max-failures -1",
           device + "--jobs 1000000000", device + "--jobs 65", device + "--port abc",
           device + "--port 70000", "--address 1.2.3.4:99999", "--address 010.0.0.1",
           "--restore-xport x.setup", device + "--retry-failed " + report,
           device + "--retry-failed /nonexistent", device + "--trusted-key " + garbage,
           device + "--signature " + garbage, device + "--bind 203.0.113.7",
           "--discover 010.0.0.0/24", "--history x", device + "--json /nonexistent/r.json",
           device + "--json " + dir.path()}) {
    const auto [status, output] = RunCli(args);
    EXPECT_EQ(status, 2) << args << "\n" << output;
  }
  const auto [status, output] = RunCli("--help");
  EXPECT_EQ(status, 0);
  EXPECT_NE(output.find("--restore-xport"), std::string::npos);
}

// Standard output closed under the program (... | head): writes fail instead of ending the
// process, the run still sends its leave command, and the unwritten report makes exit 1.
TEST(Cli, AClosedPipeDoesNotEndTheRun) {
  testing_support::TempDir dir;
  sim::Simulator device(Device(21));
  std::string error;
  ASSERT_TRUE(device.Start(&error)) << error;
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);  // nobody will ever read what the program writes
  std::string cli = DERURUZUD_CLI_PATH, port = "--port=" + std::to_string(device.TcpPort());
  std::string address = "--address=127.0.0.1", yes = "--yes", json = "--json=-";
  std::string file = "--data-file=" + dir.Write("q.HEX", sim::SampleHex(21));
  char* argv[] = {cli.data(), address.data(), port.data(), yes.data(), json.data(), file.data(),
                  nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  pid_t pid = 0;
  char* envp[] = {nullptr};
  ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv, envp), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  int st = 0;
  ::waitpid(pid, &st, 0);
  EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 1) << st;
  EXPECT_TRUE(device.WaitForNoConnection(2000));
  EXPECT_EQ(device.LeaveCommands(), 1);
}

TEST(Cli, KilledRunLeavesARecordThatPutsTheXPortBack) {
  testing_support::TempDir dir;
  sim::Config c = Device();
  c.needsOverride = true;
  c.faults.identify = sim::IdentifyFault::Silent;  // keeps the run busy after the override
  sim::Simulator device(c);
  std::string error;
  ASSERT_TRUE(device.Start(&error)) << error;
  const sim::Record original = device.SetupRecord();

  // Start a run and kill it while the XPort carries the override.
  std::string port = std::to_string(device.TcpPort()), hex = dir.Write("q.HEX", sim::SampleHex(3));
  std::string cli = DERURUZUD_CLI_PATH, address = "--address=127.0.0.1", yes = "--yes";
  std::string portArg = "--port=" + port, file = "--data-file=" + hex;
  char* argv[] = {cli.data(), address.data(), portArg.data(), yes.data(), file.data(), nullptr};
  std::string xdg = "XDG_STATE_HOME=" + dir.path() + "/state";
  char* envp[] = {xdg.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv, envp), 0);
  posix_spawn_file_actions_destroy(&actions);
  const std::string folder = dir.path() + "/state/DERURUZUD";
  std::string saved;
  for (int i = 0; i < 200 && (saved.empty() || device.SetRequests() < 1); ++i) {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
      if (e.path().extension() == ".setup") saved = e.path().string();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  ASSERT_FALSE(saved.empty());
  ASSERT_EQ(device.SetRequests(), 1);
  EXPECT_NE(device.SetupRecord(), original);  // the override stayed behind

  // The saved file puts the original back and is then removed.
  EXPECT_EQ(RunCli("--restore-xport " + saved + " --address 127.0.0.1").first, 0);
  EXPECT_EQ(device.SetupRecord(), original);
  EXPECT_FALSE(std::filesystem::exists(saved));
  // A file that is not a record is refused without touching the XPort.
  const std::string bogus = dir.Write("bogus.setup", "short");
  EXPECT_EQ(RunCli("--restore-xport " + bogus + " --address 127.0.0.1").first, 1);
  EXPECT_EQ(device.SetRequests(), 2);
}

using testing_support::Code;
using testing_support::TempDir;
using testing_support::UpdateRun;

// The XPort's settings are never changed before their original is on disk: where it
// cannot be saved, the dialog's operator decides (No preselected) and a run without an
// operator fails the device, the XPort untouched. A read-only or full disk needs root to
// stand in for (a private mount of a small file system); a folder under a file does not.
TEST(UpdateRun, NoChangeWithoutTheOriginalOnDisk) {
  sim::Config c;
  c.needsOverride = true;
  TempDir scratch;
  std::vector<std::pair<std::string, std::string>> folders = {
      {scratch.Write("a-file", "x") + "/DERURUZUD", "not a directory"}};
  if (::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0 &&
      ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0) {
    const std::string ro = scratch.path() + "/ro", full = scratch.path() + "/full";
    std::filesystem::create_directories(ro);
    std::filesystem::create_directories(full);
    EXPECT_EQ(::mount("tmpfs", ro.c_str(), "tmpfs", MS_RDONLY, "size=64k"), 0);
    EXPECT_EQ(::mount("tmpfs", full.c_str(), "tmpfs", 0, "size=4k"), 0);
    std::string filler(4096, 'x');
    std::FILE* f = std::fopen((full + "/filler").c_str(), "w");
    while (f && std::fwrite(filler.data(), 1, filler.size(), f) == filler.size() && std::fflush(f) == 0) {
    }
    if (f) std::fclose(f);
    folders.push_back({ro, "read-only file system"});
    folders.push_back({full, "no space left on device"});
  }
  for (const auto& [folder, why] : folders) {
    for (const bool yes : {false, true}) {
      SCOPED_TRACE(folder + (yes ? " yes" : " no"));
      UpdateRun run(c);
      run.session().UseSavedRecords(xport::SavedRecords(folder));
      EXPECT_EQ(Code(run.Run({yes, true})), yes ? 1 : 0);
      const auto notices = run.host.Notices();
      ASSERT_FALSE(notices.empty());
      EXPECT_TRUE(notices[0].question && notices[0].text.find(why) != std::string::npos &&
                  notices[0].text.find(folder) != std::string::npos)
          << notices[0].text;
      EXPECT_EQ(run.device().SetRequests(), yes ? 2 : 0);
      EXPECT_EQ(run.device().SetupRecord(), run.originalRecord());
    }
  }
}

}  // namespace
