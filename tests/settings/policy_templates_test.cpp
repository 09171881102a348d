// The Group Policy templates (packaging/policy) against what the programs read: every value
// the programs read under their Policies keys is described, with the kind they read it as,
// as a mandatory and as a recommended policy, every value described is read, and the choices
// and ranges offered are ones the programs take. Adding a value a program reads makes this
// fail until packaging/policy/make_templates.py describes it.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "fakes/fake_settings_store.h"
#include "settings/connection_memory.h"
#include "settings/line_settings_store.h"
#include "settings/port_profile.h"
#include "support/child_process.h"

namespace lintrel {
namespace {

constexpr char kTemplates[] = LINTREL_POLICY_TEMPLATES_DIR;
constexpr char kPolicyKey[] = "Software\\Policies\\VANTORIL SOFTWARE\\";
constexpr int kPort = 5;

enum class Kind { kNumber, kText };
using Described = std::map<std::string, Kind>;  // value name to kind

// A store holding nothing that notes each value asked for, as the name a policy key holds it
// under ("Ports\COM5\Replace 3" as "Replace"), with the kind it was first asked as.
class ReadRecorder : public testing::FakeSettingsStore {
 public:
  Described read;

  std::optional<std::string> ReadString(const std::string& entry) override {
    Note(entry, Kind::kText);
    return std::nullopt;
  }
  std::optional<int32_t> ReadInt(const std::string& entry) override {
    Note(entry, Kind::kNumber);
    return std::nullopt;
  }

 private:
  void Note(const std::string& entry, Kind kind) {
    const std::optional<PortEntryName> port = SplitPortProfileEntry(entry);
    std::string name = port ? std::string(port->name) : entry;
    if (name.starts_with(std::string(kReplaceEntry) + " ")) name = kReplaceEntry;
    read.try_emplace(name, kind);
  }
};

// What each program reads of its settings, by the functions it reads them with.
Described ReadBy(const std::string& program) {
  ReadRecorder recorder;
  LoadLineSettings(recorder);
  LoadPortProfile(recorder, kPort, nullptr);
  if (program == "lintrel") {
    LoadSharedProfile(recorder, nullptr);
    LoadStartupOptions(recorder);
    LoadRememberedPorts(recorder);
  } else {
    LoadSavedPortNames(recorder);
    // Read with the rest of a port's profile, but a hotkey is the Windows program's alone.
    recorder.read.erase(kHotkeyEntry);
  }
  return recorder.read;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

struct Policy {
  std::string key;
  std::string element;  // the element's tag: text, decimal, boolean, enum, list
  std::string value_name;
  std::string body;     // the element's content (an enum's items)
  std::optional<int> low, high;
};

// The policies of the templates, one element each as make_templates.py writes them.
std::vector<Policy> Policies() {
  const std::string admx = ReadFile(std::string(kTemplates) + "/lintrel.admx");
  static const std::regex kPolicy(R"re(<policy name="[^"]+"[^>]* key="([^"]+)">[\s\S]*?<elements><(\w+) id="[^"]+" (valueName|valuePrefix)="([^"]+)"([^>]*)>([\s\S]*?)</elements>)re");
  static const std::regex kRange(R"re(minValue="(\d+)" maxValue="(\d+)")re");
  std::vector<Policy> policies;
  for (auto match = std::sregex_iterator(admx.begin(), admx.end(), kPolicy); match != std::sregex_iterator(); ++match) {
    Policy policy{.key = (*match)[1], .element = (*match)[2], .value_name = (*match)[4], .body = (*match)[6], .low = {}, .high = {}};
    if (policy.element == "list") policy.value_name.pop_back();  // "Replace " is the prefix of "Replace 1"
    std::smatch range;
    const std::string attributes = (*match)[5];
    if (std::regex_search(attributes, range, kRange)) {
      policy.low = std::stoi(range[1]);
      policy.high = std::stoi(range[2]);
    }
    policies.push_back(policy);
  }
  return policies;
}

Kind KindOf(const Policy& policy) {
  const bool number = policy.element == "decimal" || policy.element == "boolean" ||
                      (policy.element == "enum" && policy.body.find("<decimal") != std::string::npos);
  return number ? Kind::kNumber : Kind::kText;
}

TEST(PolicyTemplatesTest, AreWellFormedXml) {
  for (const char* file : {"/lintrel.admx", "/en-US/lintrel.adml"}) {
    const testing::CommandResult checked = testing::RunToEnd({"xmllint", "--noout", std::string(kTemplates) + file});
    EXPECT_TRUE(checked.Succeeded()) << file << ": " << checked.err;
  }
}

TEST(PolicyTemplatesTest, DescribeExactlyTheValuesEachProgramReads) {
  const std::vector<Policy> policies = Policies();
  ASSERT_FALSE(policies.empty());
  for (const std::string& program : {std::string("lintrel"), std::string("lintrel-cli")}) {
    for (const std::string& key : {std::string(kPolicyKey) + program, std::string(kPolicyKey) + program + "\\Recommended"}) {
      Described described;
      for (const Policy& policy : policies) {
        if (policy.key == key) described[policy.value_name] = KindOf(policy);
      }
      EXPECT_EQ(described, ReadBy(program)) << key;
    }
  }
}

// A port's value at each end of the range, and each choice, is taken without a word; one
// past the range is not.
TEST(PolicyTemplatesTest, OfferOnlyValuesTheProgramsTake) {
  static const std::regex kDecimal(R"re(<decimal value="(\d+)"/>)re");
  static const std::regex kString(R"re(<string>([^<]*)</string>)re");
  for (const Policy& policy : Policies()) {
    if (!IsPortProfileEntry(policy.value_name)) continue;
    const std::string entry = PortProfileEntry(kPort, policy.value_name);
    std::vector<std::pair<testing::FakeSettingsStore::Value, bool>> tried;  // value, taken
    if (policy.low) tried = {{*policy.low, true}, {*policy.high, true}, {*policy.low - 1, false}, {*policy.high + 1, false}};
    for (auto item = std::sregex_iterator(policy.body.begin(), policy.body.end(), kDecimal); item != std::sregex_iterator(); ++item) {
      tried.push_back({std::stoi((*item)[1]), true});
    }
    for (auto item = std::sregex_iterator(policy.body.begin(), policy.body.end(), kString); item != std::sregex_iterator(); ++item) {
      tried.push_back({std::string((*item)[1]), true});
    }
    for (const auto& [value, taken] : tried) {
      testing::FakeSettingsStore store;
      store.values[entry] = value;
      std::vector<std::string> warnings;
      LoadPortProfile(store, kPort, &warnings);
      EXPECT_EQ(warnings.empty(), taken) << policy.key << " " << entry << (warnings.empty() ? "" : ": " + warnings[0]);
    }
  }
}

}  // namespace
}  // namespace lintrel
