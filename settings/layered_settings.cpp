#include "settings/layered_settings.h"

#include <algorithm>
#include <type_traits>
#include <utility>

#include "common/port_number.h"
#include "common/printable_text.h"
#include "settings/line_settings_store.h"
#include "settings/port_profile.h"

namespace lintrel {
namespace {

// The value a name within a section belongs to: "Ports" for "Port", "Replace" for
// "Replace 3", else the name itself.
std::string MemberKey(std::string_view name) {
  if (name == kPortEntry) return kPortsEntry;
  if (name.starts_with(std::string(kReplaceEntry) + " ") && IsPortProfileEntry(name)) return kReplaceEntry;
  return std::string(name);
}

// The value an entry belongs to, its port written as PortName() writes it.
std::string ValueKey(std::string_view entry) {
  if (const std::optional<PortEntryName> port = SplitPortProfileEntry(entry)) {
    return PortProfileEntry(port->port_number, MemberKey(port->name));
  }
  return MemberKey(entry);
}

// The entry with its port written as PortName() writes it ("Ports\com5\X" of a registry key).
std::string Normalized(const std::string& entry) {
  if (const std::optional<PortEntryName> port = SplitPortProfileEntry(entry)) {
    return PortProfileEntry(port->port_number, std::string(port->name));
  }
  return entry;
}

// Entries that are part of a value of several: written as they come, since the value
// is held whole by the layer that holds any of them.
bool IsPartOfAValue(const std::string& entry) {
  const std::string key = ValueKey(entry);
  return key != Normalized(entry) || entry == kPortsEntry;
}

template <typename T>
std::optional<T> ReadAs(SettingsStore& store, const std::string& entry) {
  if constexpr (std::is_same_v<T, std::string>) {
    return store.ReadString(entry);
  } else {
    return store.ReadInt(entry);
  }
}

}  // namespace

std::string_view SettingSourceName(SettingSource source) {
  switch (source) {
    case SettingSource::kDefault: return "default";
    case SettingSource::kMachine: return "machine";
    case SettingSource::kRecommended: return "recommended policy";
    case SettingSource::kUser: return "user";
    case SettingSource::kCommandLine: return "command line";
    case SettingSource::kPolicy: return "policy";
  }
  return "default";
}

std::optional<std::string> StoredText(SettingsStore& store, const std::string& entry) {
  if (std::optional<std::string> text = store.ReadString(entry)) return text;
  if (std::optional<int32_t> number = store.ReadInt(entry)) return std::to_string(*number);
  return std::nullopt;
}

std::string EntryDescription(const std::string& entry) {
  if (const std::optional<PortEntryName> port = SplitPortProfileEntry(entry)) {
    return Quoted(port->name) + " of " + PortName(port->port_number);
  }
  return Quoted(entry);
}

LayeredSettings::LayeredSettings(std::vector<SettingsLayer> layers) {
  for (SettingsLayer& layer : layers) AddLayer(std::move(layer));
}

LayeredSettings::Layer LayeredSettings::Indexed(SettingsLayer layer) {
  Layer indexed{.layer = std::move(layer), .values = {}};
  for (const std::string& name : indexed.layer.store->Names()) {
    const std::string entry = Normalized(name);
    indexed.values[ValueKey(entry)].insert(entry);
  }
  return indexed;
}

void LayeredSettings::AddLayer(SettingsLayer layer) {
  const auto above = std::find_if(stack_.begin(), stack_.end(),
                                  [&](const Layer& placed) { return placed.layer.source > layer.source; });
  stack_.insert(above, Indexed(std::move(layer)));
}

std::vector<SettingsLayer> LayeredSettings::layers() const {
  std::vector<SettingsLayer> layers;
  for (const Layer& layer : stack_) layers.push_back(layer.layer);
  return layers;
}

const LayeredSettings::Layer& LayeredSettings::User() const {
  return *std::find_if(stack_.begin(), stack_.end(),
                       [](const Layer& layer) { return layer.layer.source == SettingSource::kUser; });
}

std::optional<LayeredSettings::Found> LayeredSettings::Find(const std::string& entry, SettingSource lowest,
                                                            SettingSource highest) const {
  const std::string own = ValueKey(entry);
  // A port's value falls back to the layer's value of the same name outside the sections.
  std::optional<std::string> shared;
  if (const std::optional<PortEntryName> port = SplitPortProfileEntry(entry); port && IsPortProfileEntry(port->name)) {
    shared = std::string(port->name);
  }
  for (auto layer = stack_.rbegin(); layer != stack_.rend(); ++layer) {
    const SettingSource source = layer->layer.source;
    if (source < lowest || source > highest) continue;
    if (layer->values.contains(own) || HeldSinceIndexed(*layer, entry)) return Found{&*layer, entry};
    if (!shared || !layer->values.contains(MemberKey(*shared))) continue;
    if (source != SettingSource::kUser) return Found{&*layer, *shared};
    // The user's shared values are no port's own: the program applies them itself to a port
    // that has none, over what a lower layer sets for the port.
    return std::nullopt;
  }
  return std::nullopt;
}

bool LayeredSettings::HeldSinceIndexed(const Layer& layer, const std::string& entry) {
  if (layer.layer.source != SettingSource::kUser || IsPartOfAValue(entry)) return false;
  return StoredText(*layer.layer.store, entry).has_value();
}

std::optional<std::string> LayeredSettings::ReadString(const std::string& entry) {
  const std::optional<Found> found = Find(entry);
  return found ? found->layer->layer.store->ReadString(found->name) : std::nullopt;
}

std::optional<int32_t> LayeredSettings::ReadInt(const std::string& entry) {
  const std::optional<Found> found = Find(entry);
  return found ? found->layer->layer.store->ReadInt(found->name) : std::nullopt;
}

template <typename T>
bool LayeredSettings::HeldBack(const std::string& entry, const T& value) {
  if (const std::optional<Found> policy = Find(entry, SettingSource::kPolicy, SettingSource::kPolicy)) {
    if (ReadAs<T>(*policy->layer->layer.store, policy->name) != value) refused_.push_back(EntryDescription(entry));
    return true;
  }
  if (User().values.contains(ValueKey(entry)) || IsPartOfAValue(entry)) return false;
  const std::optional<Found> below = Find(entry, SettingSource::kMachine, SettingSource::kUser);
  return below && ReadAs<T>(*below->layer->layer.store, below->name) == value;
}

void LayeredSettings::Note(Layer& layer, const std::string& entry, bool held) {
  const std::string name = Normalized(entry);
  const std::string key = ValueKey(name);
  if (held) {
    layer.values[key].insert(name);
    return;
  }
  const auto found = layer.values.find(key);
  if (found == layer.values.end()) return;
  found->second.erase(name);
  if (found->second.empty()) layer.values.erase(found);
}

void LayeredSettings::WriteString(const std::string& entry, const std::string& value) {
  if (HeldBack(entry, value)) return;
  User().layer.store->WriteString(entry, value);
  Note(User(), entry, true);
}

void LayeredSettings::WriteInt(const std::string& entry, int32_t value) {
  if (HeldBack(entry, value)) return;
  User().layer.store->WriteInt(entry, value);
  Note(User(), entry, true);
}

void LayeredSettings::Remove(const std::string& entry) {
  if (Find(entry, SettingSource::kPolicy, SettingSource::kPolicy)) return;
  User().layer.store->Remove(entry);
  Note(User(), entry, false);
}

std::vector<std::string> LayeredSettings::NamesIn(SettingSource lowest, SettingSource highest) const {
  std::set<std::string> names;
  for (const Layer& layer : stack_) {
    if (layer.layer.source < lowest || layer.layer.source > highest) continue;
    for (const auto& [key, entries] : layer.values) names.insert(entries.begin(), entries.end());
  }
  return {names.begin(), names.end()};
}

std::vector<std::string> LayeredSettings::Names() { return NamesIn(SettingSource::kMachine, SettingSource::kPolicy); }

const CodePage* LayeredSettings::OlderVersionsCodePage() const {
  return User().layer.store->OlderVersionsCodePage();
}

bool LayeredSettings::Flush(std::string* error) {
  std::string failure;
  const bool flushed = User().layer.store->Flush(&failure);
  if (refused_.empty()) {
    if (!flushed && error != nullptr) *error = failure;
    return flushed;
  }
  std::string refused;
  for (const std::string& entry : refused_) refused.append(refused.empty() ? "" : ", ").append(entry);
  refused.append(refused_.size() == 1 ? " is" : " are").append(" set by your administrator and not stored");
  refused_.clear();
  if (error != nullptr) *error = flushed ? refused : failure + "; " + refused;
  return false;
}

SettingSource LayeredSettings::SourceOf(const std::string& entry) const {
  const std::optional<Found> found = Find(entry);
  return found ? found->layer->layer.source : SettingSource::kDefault;
}

std::vector<OverruledValue> LayeredSettings::OverruledByPolicy(SettingSource source) const {
  std::vector<OverruledValue> overruled;
  for (const Layer& layer : stack_) {
    if (layer.layer.source != source) continue;
    for (const auto& [key, entries] : layer.values) {
      for (const std::string& entry : entries) {
        const std::optional<Found> policy = Find(entry, SettingSource::kPolicy, SettingSource::kPolicy);
        if (!policy) continue;
        const std::optional<std::string> own = StoredText(*layer.layer.store, entry);
        const std::optional<std::string> fixed = StoredText(*policy->layer->layer.store, policy->name);
        if (own != fixed) overruled.push_back({entry, own.value_or(""), fixed.value_or("")});
      }
    }
  }
  return overruled;
}

std::optional<std::string> LayeredSettings::PolicyView::ReadString(const std::string& entry) {
  const std::optional<Found> found = settings_.Find(entry, SettingSource::kPolicy, SettingSource::kPolicy);
  return found ? found->layer->layer.store->ReadString(found->name) : std::nullopt;
}

std::optional<int32_t> LayeredSettings::PolicyView::ReadInt(const std::string& entry) {
  const std::optional<Found> found = settings_.Find(entry, SettingSource::kPolicy, SettingSource::kPolicy);
  return found ? found->layer->layer.store->ReadInt(found->name) : std::nullopt;
}

std::vector<std::string> LayeredSettings::PolicyView::Names() {
  return settings_.NamesIn(SettingSource::kPolicy, SettingSource::kPolicy);
}

}  // namespace lintrel
