#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "settings/settings_store.h"

namespace lintrel {

// Where an effective value comes from, from the lowest precedence to the highest:
//   default       no store holds it: the program's own default
//   machine       the computer's settings for every user (/etc/xdg/lintrel/<program>.conf;
//                 HKEY_LOCAL_MACHINE\Software\VANTORIL SOFTWARE\<program>)
//   recommended   an administrator's default that the user may change (the Recommended
//                 subkey of a policy key)
//   user          the user's own settings, where the program saves
//   command line  the options given to this run
//   policy        an administrator's value that nobody changes in the program
//                 (/etc/lintrel/policy.conf; the Policies keys)
// A recommended value is a default: it stands above the machine's defaults (a policy is the
// administrator's word, the machine file a local one) and below what the user chose. A policy
// stands above the command line too: the user starts the program, so a value an option could
// override would not be mandatory.
enum class SettingSource { kDefault, kMachine, kRecommended, kUser, kCommandLine, kPolicy };

// "default", "machine", "recommended policy", "user", "command line", "policy".
std::string_view SettingSourceName(SettingSource source);

struct SettingsLayer {
  SettingSource source = SettingSource::kUser;
  SettingsStore* store = nullptr;
  std::string location;  // for messages: a file's path, a registry key
};

// An option of a lower layer that a policy sets otherwise.
struct OverruledValue {
  std::string entry;         // "Ports\\COM5\\End char"
  std::string value;         // the lower layer's, as text
  std::string policy_value;  // what the policy sets, as text ("" when it is of another kind)
};

// One program's settings: several stores read as one, each value from the layer of highest
// precedence that holds it. Every reader of settings (line settings, port profiles, the
// remembered ports) reads through it unchanged, so that a value added to a profile follows
// the layers with no work of its own.
//
// - A value made of several entries is held whole by one layer: "Port" with "Ports", and a
//   port's "Replace 1" ... "Replace 100" (a layer's list stands for a lower one's, never
//   merged with it).
// - A port's value ("Ports\\COM5\\End char") that a layer does not set for that port is the
//   layer's value of the same name outside every section, where it has one: a machine's,
//   recommended or policy "End char" is every port's. Not in the user's layer, whose entries
//   outside sections are the program's shared settings (the shared line settings, the
//   options every port shares), which the program applies itself to a port that has none of
//   its own: there such an entry ends the search, as a port's value no layer sets, so that a
//   lower layer's value for the port does not stand over the user's for every port.
// - Writes go to the user's layer. A value a policy sets is not stored over: a write of the
//   policy's own value (a dialog that shows it) stores nothing, any other is refused and
//   named by the next Flush(), and a removal leaves the user's own value for when the policy
//   goes. A write of the value the layers below the user's give already stores nothing
//   either, so that the user goes on following a machine's or a recommended value until they
//   change it.
//
// Thread contract: as the stores it layers (one thread at a time).
class LayeredSettings : public SettingsStore {
 public:
  // Exactly one layer is the user's. Layers of one source rank in the order given, the later
  // one higher (the machine's policy after the user's policy).
  explicit LayeredSettings(std::vector<SettingsLayer> layers);
  LayeredSettings(const LayeredSettings&) = delete;
  LayeredSettings& operator=(const LayeredSettings&) = delete;

  // Adds a layer at its place (the command line, once it is parsed).
  void AddLayer(SettingsLayer layer);

  std::optional<std::string> ReadString(const std::string& entry) override;
  std::optional<int32_t> ReadInt(const std::string& entry) override;
  void WriteString(const std::string& entry, const std::string& value) override;
  void WriteInt(const std::string& entry, int32_t value) override;
  void Remove(const std::string& entry) override;
  // Every entry any layer holds.
  std::vector<std::string> Names() override;
  const CodePage* OlderVersionsCodePage() const override;
  // Flushes the user's layer; false, with every refused write named in *error, when a write
  // was refused since the last Flush().
  bool Flush(std::string* error) override;

  // The layer the entry's value comes from (kDefault: none holds it).
  SettingSource SourceOf(const std::string& entry) const;
  bool SetByPolicy(const std::string& entry) const { return SourceOf(entry) == SettingSource::kPolicy; }

  // The entries of the layers of `source` whose value a policy sets otherwise.
  std::vector<OverruledValue> OverruledByPolicy(SettingSource source) const;

  // The policies alone, read as this store reads them (a port's value falling back to the
  // policy's value for every port); it stores nothing. For a front end that puts its command
  // line over the stored values and the policies over that.
  SettingsStore& Policies() { return policies_; }

  // The layers, lowest first.
  std::vector<SettingsLayer> layers() const;

 private:
  struct Layer {
    SettingsLayer layer;
    // The entries held, by the value they belong to ("Ports\\COM5\\Replace" for
    // "Ports\\COM5\\Replace 3").
    std::map<std::string, std::set<std::string>, std::less<>> values;
  };
  struct Found {
    const Layer* layer;
    std::string name;  // the entry within that layer
  };

  static Layer Indexed(SettingsLayer layer);
  // Whether the user's store holds a value of one entry that was written there by someone
  // else after it was indexed (another program, an older version's settings put back): the
  // user's own values are read as they are now, as before there were layers.
  static bool HeldSinceIndexed(const Layer& layer, const std::string& entry);
  std::optional<Found> Find(const std::string& entry, SettingSource lowest, SettingSource highest) const;
  std::optional<Found> Find(const std::string& entry) const {
    return Find(entry, SettingSource::kMachine, SettingSource::kPolicy);
  }
  std::vector<std::string> NamesIn(SettingSource lowest, SettingSource highest) const;
  const Layer& User() const;
  Layer& User() { return const_cast<Layer&>(std::as_const(*this).User()); }
  // Whether a write of `value` stores nothing (or is refused): see the class comment.
  template <typename T>
  bool HeldBack(const std::string& entry, const T& value);
  void Note(Layer& layer, const std::string& entry, bool held);

  class PolicyView : public SettingsStore {
   public:
    explicit PolicyView(LayeredSettings& settings) : settings_(settings) {}
    std::optional<std::string> ReadString(const std::string& entry) override;
    std::optional<int32_t> ReadInt(const std::string& entry) override;
    void WriteString(const std::string&, const std::string&) override {}
    void WriteInt(const std::string&, int32_t) override {}
    void Remove(const std::string&) override {}
    std::vector<std::string> Names() override;
    bool Flush(std::string*) override { return true; }

   private:
    LayeredSettings& settings_;
  };

  std::vector<Layer> stack_;  // lowest first
  PolicyView policies_{*this};
  std::vector<std::string> refused_;
};

// The entry's value in `store` as text, an integer in decimal; nullopt when it is missing.
std::optional<std::string> StoredText(SettingsStore& store, const std::string& entry);

// "\"End char\" of COM5" or "\"Port\"", for messages.
std::string EntryDescription(const std::string& entry);

}  // namespace lintrel
