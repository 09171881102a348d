#pragma once

#include <string>
#include <vector>

#include "app/cli/cli_options.h"
#include "settings/layered_settings.h"
#include "settings/memory_settings_store.h"

namespace lintrel::cli {

// What the command line gives, as a layer of settings: the ports given ("Ports"), the line
// settings given for every port, each port's profile (what is given for every port under its
// own options) and the devices given with the ports ("Device COMn"). Made from the options
// as parsed, before ApplySettings().
MemorySettingsStore CommandLineSettings(const CliOptions& options);

// Puts the settings (read through `settings`, without the command line's layer) under the
// command line and the policies over both: each port's profile is its stored one, then what
// is given for every port, then the port's own options, then the policies' values; the
// shared line settings get the policies' positions; and the ports given are replaced by a
// policy's "Ports". A damaged stored value adds a line to *warnings.
void ApplySettings(LayeredSettings& settings, CliOptions& options, std::vector<std::string>* warnings);

// One line for each value the command line gives that a policy sets otherwise, once the
// command line's layer is in `settings`: "\"End char\" of COM5 is set by your administrator:
// 13 is used, not 10".
std::vector<std::string> OverruledOptions(const LayeredSettings& settings);

// The --show-settings text: the places of the settings, then every value in use, the shared
// ones and then each port's, one a line with where it comes from:
//   "policy              End char=13"
// `settings` holds the command line's layer; `options` are applied (ApplySettings).
// `default_encoding`: the platform's, for a port no layer and no option sets one for.
std::string EffectiveSettingsText(LayeredSettings& settings, const CliOptions& options, TextEncoding default_encoding);

// The ports of `options` and every port some layer of `settings` holds a section for, in
// that order: the ports --show-settings shows.
std::vector<int> PortsToShow(LayeredSettings& settings, const CliOptions& options);

}  // namespace lintrel::cli
