// The real `ventaro` interrupted, piped, limited and fed odd start-up conditions: signals,
// closed pipes and descriptors, a file-size limit, slow servers, shared runtime directories,
// an address that blocks GIO, short fan names and a settings file with a byte-order mark.
// Every run ends in bounded time with its result shown or a status that says why.

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

TEST_F(VentaroOnABus, AFileSizeLimitKeepsTheIdsInMemory) {
  const Outcome outcome = run({}, bus->address(), {"sh", "-c", "ulimit -f 0 && exec \"$@\"", "sh"});
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
