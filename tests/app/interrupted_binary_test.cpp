// The real `ventaro` interrupted, piped, limited and fed odd start-up conditions: signals,
// closed pipes and descriptors, file-size, address-space and process limits, slow servers,
// shared runtime directories, an address that blocks GIO, short fan names and a settings file
// with a byte-order mark. Every run ends in bounded time with its result shown or a status that
// says why.

#include "tests/app/ventaro_process.h"

#include <arpa/inet.h>
#include <csignal>
#include <gmock/gmock.h>
#include <netinet/in.h>
#include <regex>
#include <sys/socket.h>
#include <sys/stat.h>

namespace ventaro::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::AnyOf;
using ::testing::ContainsRegex;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using ::testing::Not;
using ::testing::SizeIs;

const std::string kStartLine = "Compute Benchmark: Ventaro will test FP32 performance\\.\n";
const std::string kResultLine = ".+ [0-9]+ (MB|GB): Ventaro measured [0-9]+ GFLOPS\\.\n";

// A wrapper that gives the rest of its command line descriptor `fd` as the writing end of a
// pipe whose reader has already gone, with SIGPIPE at its default action.
std::vector<std::string> intoAClosedPipe(int fd) {
  return {"/usr/bin/python3", "-c",
          "import os, signal, sys\n"
          "signal.signal(signal.SIGPIPE, signal.SIG_DFL)\n"
          "signal.signal(signal.SIGXFSZ, signal.SIG_DFL)\n"
          "r, w = os.pipe()\nos.close(r)\nos.dup2(w, int(sys.argv[1]))\nos.close(w)\n"
          "os.execvp(sys.argv[2], sys.argv[2:])\n",
          std::to_string(fd)};
}

// A wrapper that runs the rest of its command line under the shell's `limit` (`ulimit -v 200000`).
std::vector<std::string> under(const std::string& limit) {
  return {"sh", "-c", limit + " && exec \"$@\"", "sh"};
}

// The number after `"key":` in a JSON text, -1 when there is none.
long long jsonNumber(const std::string& text, const std::string& key) {
  std::smatch match;
  const std::regex pattern("\"" + key + "\":([0-9]+)");
  return std::regex_search(text, match, pattern) ? std::stoll(match[1]) : -1;
}

class InterruptedStart : public VentaroOnABus, public ::testing::WithParamInterface<int> {};

// Ctrl-C, `systemctl --user stop`, a closed terminal: the start notice does not stay behind.
TEST_P(InterruptedStart, ASignalDuringTheWaitWithdrawsTheStartNoticeAndExitsWithItsStatus) {
  VentaroProcess process(home.path(), {}, bus->address());
  ASSERT_TRUE(waitUntil([&] { return !server->onScreen().empty(); }));
  process.signal(GetParam());
  const Outcome outcome = process.finish();
  EXPECT_EQ(outcome.status, 128 + GetParam()) << outcome.err;
  EXPECT_THAT(server->onScreen(), IsEmpty()) << "the start notice stayed on the screen";
  EXPECT_THAT(server->callsOf("Notify"), SizeIs(1)) << "no load, no result";
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptedStart, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const auto& info) { return std::string(strsignal(info.param)); });

// A signal two seconds into the fan-reset recheck of a login start: the fans before, those read
// so far and the reset not checked are written, then the signal's status.
class InterruptedRecheck : public VentaroOnABus, public ::testing::WithParamInterface<int> {};

TEST_P(InterruptedRecheck, ASignalDuringTheRecheckWritesWhatWasReadAndExitsWithItsStatus) {
  if (const auto reason = applesmcTreeUnavailable("flat-stuck")) {
    GTEST_SKIP() << *reason;
  }
  settings("DelayAtLogin=0\nStressLevel=1\n");
  const fs::path noticeUp = home.path() / "notice-up", recheck = home.path() / "recheck-began";
  // Once the notice is up the fan check is over and the load reads no fan: the next read of
  // fan 0's speed, which sets its access time again, is the recheck's first.
  const std::string change = "touch -a -d @0 fan1_input; i=0; "
                             "while [ \"$(stat -c %X fan1_input)\" = 0 ] && [ $i -lt 1200 ]; "
                             "do sleep 0.05; i=$((i+1)); done; : > " +
                             recheck.string();
  VentaroProcess process(home.path(), {"--login-item", "--json"}, bus->address(),
                         overFanFixtureChangedOn("flat-stuck", noticeUp, change), {}, 60);
  ASSERT_TRUE(waitUntil([&] { return !server->callsOf("Notify").empty(); }));
  std::ofstream{noticeUp};
  ASSERT_TRUE(waitUntil([&] { return fs::exists(recheck); }, std::chrono::seconds(50)));
  g_usleep(2'000'000);
  process.signal(GetParam());
  const Outcome outcome = process.finish();
  EXPECT_EQ(outcome.status, 128 + GetParam()) << outcome.err;
  EXPECT_THAT(outcome.err,
              HasSubstr("ventaro: fan reset not checked, interrupted: PCI Fan 1850 → 1850 rpm\n"));
  EXPECT_THAT(outcome.out,
              ContainsRegex(R"("fans_before":\[\{"index":0,[^}]*"current_rpm":1850\})"));
  EXPECT_THAT(outcome.out,
              ContainsRegex(R"("fans_after":\[\{"index":0,[^}]*"current_rpm":1850\})"));
  EXPECT_THAT(outcome.out, HasSubstr(R"("fan_reset":"not-checked"}
)"));
  EXPECT_LT(outcome.seconds, 45.0);
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptedRecheck, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const auto& info) { return std::string(strsignal(info.param)); });

// SIGKILL (or SIGQUIT, which the program leaves at its default action) during the wait: nothing
// of the program runs, yet the next start withdraws the start notice left on the screen, since
// its id was kept as soon as the server gave it.
class KilledDuringTheWait : public VentaroOnABus, public ::testing::WithParamInterface<int> {};

TEST_P(KilledDuringTheWait, TheNextStartWithdrawsTheStartNoticeLeftBehind) {
  {
    VentaroProcess first(home.path(), {}, bus->address(), under("ulimit -c 0"), {}, 30);
    ASSERT_TRUE(waitUntil([&] { return !server->onScreen().empty(); }));
    // Saved as soon as the server answers, well before the load; renamed into place when whole.
    const fs::path saved =
        home.path() / "runtime" / "ventaro" / ("Ventaro%20Start." + bus->guid() + ".notice");
    waitUntil([&] { return fs::exists(saved); }, std::chrono::seconds(2));
    first.signalProgram(GetParam());
    EXPECT_LT(first.finish().seconds, 5.0) << "ended before the load";
  }
  ASSERT_THAT(server->onScreen(), ElementsAre(1u)) << "the start notice stays behind";
  const Outcome next = run({}, bus->address(), {}, {}, 60);
  EXPECT_EQ(next.status, 0) << next.err;
  EXPECT_THAT(server->closedIds(), ::testing::Contains("1"));
  EXPECT_THAT(server->onScreen(), SizeIs(1)) << "the next start's result alone";
}

INSTANTIATE_TEST_SUITE_P(Signals, KilledDuringTheWait, ::testing::Values(SIGKILL, SIGQUIT),
                         [](const auto& info) { return std::string(strsignal(info.param)); });

// A second start begun during the first one's wait finds the first one's start notice and
// withdraws it before it posts its own.
TEST_F(VentaroOnABus, ASecondStartDuringTheWaitWithdrawsTheFirstOnesStartNotice) {
  VentaroProcess first(home.path(), {}, bus->address(), {}, {}, 60);
  ASSERT_TRUE(waitUntil([&] { return !server->onScreen().empty(); }));
  g_usleep(500'000);
  VentaroProcess second(home.path(), {}, bus->address(), {}, {}, 60);
  ASSERT_TRUE(waitUntil([&] { return server->callsOf("Notify").size() >= 2; }));
  EXPECT_THAT(server->onScreen(), ElementsAre(2u)) << "both start notices on the screen";
  EXPECT_EQ(first.finish().status, 0);
  EXPECT_EQ(second.finish().status, 0);
  EXPECT_THAT(server->onScreen(), SizeIs(1)) << "one result notice";
}

// Nobody reads standard output: the write error is reported; nobody reads standard error: the
// load and the JSON go on.
TEST_F(VentaroHome, AClosedPipeIsAWriteErrorThatNeverStopsTheLoad) {
  const Outcome listing = run({"--list-devices"}, std::nullopt, intoAClosedPipe(1));
  EXPECT_EQ(listing.status, 1);
  EXPECT_EQ(listing.err, "ventaro: write error: Broken pipe\n");

  const Outcome json = run({"--json", "--device", "cpu"}, std::nullopt, intoAClosedPipe(1));
  EXPECT_EQ(json.status, 1);
  EXPECT_THAT(json.err,
              MatchesRegex(kStartLine + kResultLine + "ventaro: write error: Broken pipe\n"));

  const Outcome quiet = run({"--json", "--device", "cpu"}, std::nullopt, intoAClosedPipe(2));
  EXPECT_EQ(quiet.status, 0);
  EXPECT_THAT(quiet.out, MatchesRegex("\\{\"schema_version\":1,.*\"status\":\"ok\".*\\}\n"));
}

TEST_F(VentaroHome, AClosedStandardOutputIsABadFileDescriptor) {
  const Outcome outcome = run({}, std::nullopt, {"sh", "-c", "exec \"$@\" >&-", "sh"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "ventaro: write error: Bad file descriptor\n");
}

// Under an address-space limit of 200 MB the starts that run no load on the processor end as
// soon as their work is done: the CBLAS library, whose thread pool would retry a refused
// allocation for ever and hold up the exit, is never loaded for them.
TEST_F(VentaroHome, AnAddressSpaceLimitNeverHoldsUpTheExit) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than any such limit";
#endif
  std::vector<std::string> starts = {"--version", "--list-devices"};
  if (!hostHasApplesmc()) {
    starts.emplace_back("--login-item"); // ends at once where there are no fans
  }
  for (const std::string& start : starts) {
    const Outcome outcome = run({start}, std::nullopt, under("ulimit -v 200000"), {}, 20);
    EXPECT_EQ(outcome.status, 0) << start << " (124: still running after 20 s)\n" << outcome.err;
  }
}

// Starts `--json --device <device>` under each address-space limit from `lowest` to `highest`
// MB, three at a time so that the loads leave the machine to the other tests: each load runs,
// or fails with its reason, a load-failed object and status 1; none hangs, aborts or crashes.
void expectEveryLimitEndsTheLoadWithItsObject(const std::filesystem::path& home,
                                              const std::string& device, int lowest, int highest,
                                              int step) {
  constexpr int kAtATime = 3;
  for (int first = lowest; first <= highest; first += step * kAtATime) {
    std::vector<std::pair<int, std::unique_ptr<VentaroProcess>>> starts;
    for (int megabytes = first; megabytes < first + step * kAtATime && megabytes <= highest;
         megabytes += step) {
      starts.emplace_back(megabytes,
                          std::make_unique<VentaroProcess>(
                              home, std::vector<std::string>{"--json", "--device", device},
                              std::nullopt, under("ulimit -v " + std::to_string(megabytes * 1000)),
                              std::vector<std::string>{}, 60));
    }
    for (auto& [megabytes, start] : starts) {
      const Outcome outcome = start->finish();
      SCOPED_TRACE(device + " under " + std::to_string(megabytes) + " MB: " + outcome.err);
      EXPECT_THAT(outcome.status, AnyOf(0, 1));
      EXPECT_THAT(outcome.out, HasSubstr(outcome.status == 0 ? R"("status":"ok")"
                                                             : R"("status":"load-failed")"));
      if (outcome.status == 1) {
        EXPECT_THAT(outcome.err, ContainsRegex("\nventaro: load failed: [^\n]+\n$"));
      }
    }
  }
}

// Every address-space limit from 200 MB to 1.3 GB on the processor.
TEST_F(VentaroHome, EveryAddressSpaceLimitEndsAProcessorLoadWithItsObject) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than any such limit";
#endif
  expectEveryLimitEndsTheLoadWithItsObject(home.path(), "cpu", 200, 1300, 100);
}

// The software Vulkan device compiles its pipelines in the process and crashed where an
// allocation was refused while it did; every limit up to the one where the full-size load
// would run (which takes minutes on it) ends with the load's object.
TEST_F(VentaroHome, EveryAddressSpaceLimitEndsAVulkanLoadWithItsObject) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than any such limit";
#endif
  if (run({"--list-devices"}).out.find("vulkan:0\t") == std::string::npos) {
    GTEST_SKIP() << "no Vulkan device listed here";
  }
  expectEveryLimitEndsTheLoadWithItsObject(home.path(), "vulkan:0", 300, 750, 25);
}

// A user whose processes may start no further thread: no start asks GLib for a thread it would
// end the process for; the load on the processor fails with its reason.
class WithoutThreads : public VentaroHome {
protected:
  void SetUp() override {
    VentaroHome::SetUp();
    if (geteuid() != 0) {
      GTEST_SKIP() << "making a user for the test needs root";
    }
    user.emplace(home.path());
    if (!user->made()) {
      GTEST_SKIP() << "useradd cannot make a user here";
    }
    binary = user->binary();
  }
  void TearDown() override { user.reset(); }

  // As the user, whose two processes are `timeout` and the program.
  Outcome runWithoutThreads(const std::vector<std::string>& arguments) {
    std::vector<std::string> wrapper = user->wrapper();
    wrapper.insert(wrapper.end(), {"prlimit", "--nproc=2", "--"});
    return run(arguments, std::nullopt, wrapper, {"ASAN_OPTIONS=detect_leaks=0"}, 30);
  }

  std::optional<TestUser> user;
};

TEST_F(WithoutThreads, NoStartAbortsAndTheProcessorLoadFailsWithItsReason) {
  if (!hostHasApplesmc()) {
    const Outcome login = runWithoutThreads({"--login-item"});
    EXPECT_EQ(login.status, 0) << login.err;
    EXPECT_THAT(login.err, Not(HasSubstr("GLib")));
  }
  const Outcome load = runWithoutThreads({"--json", "--device", "cpu"});
  EXPECT_EQ(load.status, 1) << load.err;
  EXPECT_THAT(load.err,
              ContainsRegex("\nventaro: load failed: [^\n]*cannot start the worker threads"));
  EXPECT_THAT(load.out, HasSubstr(R"("status":"load-failed")"));
}

TEST_F(VentaroOnABus, AFileSizeLimitKeepsTheIdsInMemory) {
  const Outcome outcome = run({}, bus->address(), under("ulimit -f 0"));
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_THAT(server->callsOf("Notify"), SizeIs(2));
  EXPECT_THAT(server->closedIds(), ElementsAre("1")) << "the start notice is withdrawn";
  const fs::path ids = home.path() / "runtime" / "ventaro";
  EXPECT_TRUE(!fs::exists(ids) || fs::is_empty(ids)) << "a temporary file was left";
}

// One user, two session buses (one per desktop session), one runtime directory: each session
// replaces its own result notice.
TEST_F(VentaroOnABus, TwoBusesSharingTheRuntimeDirectoryKeepTheirOwnIds) {
  PrivateSessionBus otherBus;
  MockNotificationServer otherServer(otherBus.address());
  for (int round = 0; round < 2; ++round) {
    VentaroProcess here(home.path(), {}, bus->address());
    VentaroProcess there(home.path(), {}, otherBus.address());
    EXPECT_EQ(here.finish().status, 0);
    EXPECT_EQ(there.finish().status, 0);
  }
  EXPECT_THAT(server->onScreen(), SizeIs(1)) << "one result notice per session";
  EXPECT_THAT(otherServer.onScreen(), SizeIs(1)) << "one result notice per session";
  EXPECT_THAT(server->closedIds(), SizeIs(2)) << "each start notice withdrawn, nothing else";
  EXPECT_THAT(otherServer.closedIds(), SizeIs(2)) << "each start notice withdrawn, nothing else";
}

// A busy desktop shell answers the start notice after 3.5 s: the run goes on on time, and the
// late id still withdraws the notice; the result is posted.
TEST_F(VentaroOnABus, AStartNoticeAnsweredLateIsStillWithdrawn) {
  server->answerNotifyLate(3.5);
  const Outcome outcome = run({}, bus->address());
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "") << "nothing went to the terminal";
  EXPECT_THAT(server->callsOf("Notify"), SizeIs(2));
  EXPECT_THAT(server->closedIds(), ElementsAre("1"));
  EXPECT_THAT(server->onScreen(), ElementsAre(2u)) << "the result alone";
  EXPECT_LT(outcome.seconds, 30.0);
}

// GIO reads the nonce file on its worker thread without a bound; a FIFO nobody writes would
// block it for ever. The connection wait ends on our own timer (3 s), then come the five-second
// wait and a one-multiplication load: 20 s is room enough on a busy machine.
TEST_F(VentaroHome, ANonceFileThatBlocksEndsOnTheTerminalWithinTheBound) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const fs::path nonce = home.path() / "nonce";
  ASSERT_EQ(mkfifo(nonce.c_str(), 0600), 0);
  const std::string busAddress =
      "nonce-tcp:host=127.0.0.1,port=" + std::to_string(ntohs(address.sin_port)) +
      ",noncefile=" + nonce.string();
  const Outcome outcome = run({}, busAddress, {"timeout", "20"});
  close(listener);
  EXPECT_EQ(outcome.status, 0) << "124: still waiting after 20 s";
  EXPECT_THAT(outcome.out, MatchesRegex(kStartLine + kResultLine));
}

// The kernel prints "CPU Fan" without the SMC's padding; the name comes back as printed.
TEST_F(VentaroHome, AShortFanLabelIsShownAsTheKernelGivesIt) {
  if (const auto reason = sysfsMountUnavailable()) {
    GTEST_SKIP() << *reason;
  }
  const Outcome outcome = run({"--check-fans", "--json"}, std::nullopt,
                              overSysfsFixture("flat-stuck", "devices/platform"));
  EXPECT_EQ(outcome.status, 1) << outcome.err;
  EXPECT_THAT(outcome.out, HasSubstr("\"name\":\"CPU Fan\","));
  EXPECT_THAT(outcome.out, Not(HasSubstr("CPU Fan ")));
}

TEST_F(VentaroHome, ASettingsFileWithAByteOrderMarkIsRead) {
  std::ofstream(home.path() / "config" / "ventaro" / "settings.ini")
      << "\xEF\xBB\xBF[Ventaro]\nStressLevel=200\n";
  const Outcome outcome = run({"--json", "--device", "cpu"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  // Twice the default's one multiplication per 64 MiB of the device's working set.
  const long long units = jsonNumber(outcome.out, "memory_bytes") >> 26;
  EXPECT_EQ(jsonNumber(outcome.out, "multiplications"), 2 * units) << outcome.out;
}

TEST_F(VentaroHome, DoubleDashEndsTheOptions) {
  EXPECT_EQ(run({"--version", "--"}).status, 0);
  const Outcome extra = run({"--", "--version"});
  EXPECT_EQ(extra.status, 2);
  EXPECT_THAT(extra.err, HasSubstr("unexpected argument '--version'"));
}

} // namespace
} // namespace ventaro::testing
