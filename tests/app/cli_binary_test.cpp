// The real `ventaro` as scripts use it: --json checked against its schema, the exit statuses,
// --list-devices, --device, and output that cannot be written.

#include "app/json_output.h"
#include "tests/app/ventaro_process.h"

#include <gmock/gmock.h>
#include <json-glib/json-glib.h>

namespace ventaro::testing {
namespace {

using ::testing::AnyOf;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

// A parsed JSON document; null root when the text is not JSON.
class Json : NoCopy {
public:
  explicit Json(const std::string& text) : parser_(json_parser_new()) {
    EXPECT_TRUE(json_parser_load_from_data(parser_, text.c_str(), -1, nullptr)) << text;
  }
  ~Json() { g_object_unref(parser_); }
  JsonNode* root() const { return json_parser_get_root(parser_); }
  JsonObject* object() const {
    return root() != nullptr && JSON_NODE_HOLDS_OBJECT(root()) ? json_node_get_object(root())
                                                               : nullptr;
  }

private:
  JsonParser* parser_;
};

std::string text(JsonObject* object, const char* key) {
  JsonNode* node = json_object_get_member(object, key);
  return node != nullptr && JSON_NODE_HOLDS_VALUE(node) &&
                 json_node_get_value_type(node) == G_TYPE_STRING
             ? json_node_get_string(node)
             : "(no string)";
}

bool isNumber(JsonObject* object, const char* key) {
  JsonNode* node = json_object_get_member(object, key);
  return node != nullptr && JSON_NODE_HOLDS_VALUE(node) &&
         (json_node_get_value_type(node) == G_TYPE_INT64 ||
          json_node_get_value_type(node) == G_TYPE_DOUBLE) &&
         json_node_get_double(node) >= 0.0;
}

// Every member of the run object, with its type, the kind and status expected, and the values
// the others may take.
void expectRun(JsonObject* run, const std::string& kind, const std::string& status) {
  ASSERT_NE(run, nullptr) << "not a JSON object";
  EXPECT_EQ(json_object_get_size(run), 15u);
  EXPECT_EQ(json_object_get_int_member(run, "schema_version"), 1);
  EXPECT_EQ(text(run, "kind"), kind);
  EXPECT_EQ(text(run, "status"), status);
  const bool reasoned = status == "load-failed" || status == "refused";
  EXPECT_EQ(json_object_get_null_member(run, "reason"), !reasoned) << status;
  if (reasoned) {
    EXPECT_NE(text(run, "reason"), "") << status;
  }
  JsonNode* device = json_object_get_member(run, "device");
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(JSON_NODE_HOLDS_NULL(device), status == "refused");
  if (JSON_NODE_HOLDS_OBJECT(device)) {
    JsonObject* fields = json_node_get_object(device);
    EXPECT_THAT(text(fields, "backend"), AnyOf("cuda", "vulkan", "cpu"));
    EXPECT_NE(text(fields, "name"), "(no string)");
    EXPECT_TRUE(isNumber(fields, "memory_bytes"));
  }
  EXPECT_EQ(text(run, "precision"), "fp32");
  for (const char* key :
       {"dimension", "multiplications", "seconds", "gflops", "mismatched_values"}) {
    EXPECT_TRUE(isNumber(run, key)) << key;
  }
  EXPECT_THAT(text(run, "result_check"), AnyOf("passed", "failed", "not-run"));
  EXPECT_THAT(text(run, "accuracy_check"), AnyOf("passed", "failed", "not-run"));
  for (const char* key : {"values_checked", "values_outside_bound"}) {
    EXPECT_TRUE(isNumber(run, key)) << key;
  }
}

// A benchmark on the CPU chosen by name: stdout holds the JSON alone, both notices (no bus)
// go to stderr as lines, and the numbers describe the load that ran.
TEST_F(VentaroHome, JsonBenchmarkOnTheChosenCpu) {
  const Outcome outcome = run({"--json", "--device=cpu"});

  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_THAT(outcome.err, MatchesRegex("Compute Benchmark: Ventaro will test FP32 performance\\.\n"
                                        ".+ [0-9]+ (MB|GB): Ventaro measured [0-9]+ GFLOPS\\.\n"));
  ASSERT_THAT(outcome.out, MatchesRegex("\\{[^\n]*\\}\n")) << "one object on one line";
  const Json json(outcome.out);
  expectRun(json.object(), "benchmark", "ok");
  JsonObject* run = json.object();
  EXPECT_EQ(text(json_object_get_object_member(run, "device"), "backend"), "cpu");
  EXPECT_GT(json_object_get_int_member(run, "gflops"), 0);
  EXPECT_EQ(text(run, "accuracy_check"), "passed");
  EXPECT_EQ(json_object_get_int_member(run, "values_checked"), 256);
}

// Refusal needs two GPUs, which no test machine has: the object is checked as written.
TEST(RunJson, RefusedStartHasNoDeviceAndTheReason) {
  const Json json(refusedRunJson(RunKind::fanReset, "two GPUs\xC2\x9B"));
  expectRun(json.object(), "fan-reset", "refused");
  EXPECT_EQ(text(json.object(), "reason"), "two GPUs ") << "display text: no C1 control";
}

TEST_F(VentaroHome, ListDevicesEndsWithTheCpuAndChoosesByItsNames) {
  const Outcome listed = run({"--list-devices"});
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_THAT(listed.out,
              MatchesRegex("([a-z]+:[0-9]+\t[a-z]+\t[^\t\n]+\t[0-9]+\t[^\t\n]+\t([0-9]+|-)\n)*"
                           "cpu\tcpu\t[^\t\n]+\t[0-9]+\t-\t[0-9]+\n"))
      << "the processor's peak is measured";

  const Outcome json = run({"--json", "--list-devices"});
  const Json devices(json.out);
  ASSERT_TRUE(devices.root() != nullptr && JSON_NODE_HOLDS_ARRAY(devices.root())) << json.out;
  JsonArray* array = json_node_get_array(devices.root());
  const guint count = json_array_get_length(array);
  ASSERT_GE(count, 1u);
  EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), count);
  EXPECT_EQ(text(json_array_get_object_element(array, count - 1), "id"), "cpu");
  JsonObject* cpu = json_array_get_object_element(array, count - 1);
  EXPECT_TRUE(json_object_get_null_member(cpu, "pci_address"));
  EXPECT_GT(json_object_get_int_member(cpu, "peak_gflops"), 0);
}

// The argument, the exit status, what stderr says.
TEST_F(VentaroHome, UsageErrorsExitTwoAndNameTheProblem) {
  const std::tuple<std::vector<std::string>, const char*> cases[] = {
      {{"--device"}, ".*'--device' needs a device.*"},
      {{"--device", "cuda:99"}, ".*unknown device 'cuda:99'; the devices here are (.*, )?cpu\n.*"},
      {{"--check-fans", "--list-devices"}, ".*cannot be given together.*"},
      {{"--check-fans", "--login-item"}, ".*runs nothing.*"},
      {{"\xff\x1b[2J"}, ".*unexpected argument '\xEF\xBF\xBD \\[2J'.*"},
      {{"--bogus"}, ".*'--bogus'.*--help.*"},
  };
  for (const auto& [arguments, err] : cases) {
    const Outcome outcome = run(arguments);
    EXPECT_EQ(outcome.status, 2) << arguments.front();
    EXPECT_EQ(outcome.out, "") << arguments.front();
    EXPECT_THAT(outcome.err, MatchesRegex(err)) << arguments.front();
  }
}

// Output that cannot be written fails the start, whatever was being written.
TEST_F(VentaroHome, WriteErrorsOnStandardOutputFail) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--help"}, {"--list-devices"}, {}}) {
    const Outcome outcome =
        run(arguments, std::nullopt, {"sh", "-c", "exec \"$@\" >/dev/full", "sh"});
    const std::string shown = arguments.empty() ? "(benchmark)" : arguments.front();
    EXPECT_EQ(outcome.status, 1) << shown;
    EXPECT_THAT(outcome.err, HasSubstr("ventaro: write error: No space left on device")) << shown;
  }
}

} // namespace
} // namespace ventaro::testing
