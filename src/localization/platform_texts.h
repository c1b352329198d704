// Catalogue rows that send the user to places of another desktop (its settings panes, its
// file manager, its application folder) keep their keys, because the capture layer reports
// with them; on Linux the views show a Linux text in their place, in both languages.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace vantry {

struct PlatformReplacement {
  std::string_view original;     // a catalogue key
  std::string_view replacement;  // a platform row's key
};

// Every replaced row.
std::span<const PlatformReplacement> platformReplacements();

// The message with each replaced row (as its key or its English text) swapped for the Linux
// key, untranslated.
std::string platformMessage(std::string_view message);

// What a view shows of a run-time message: the Linux texts, translated like LM.
std::string shownMessage(std::string_view message);

// The Linux key that stands in for a replaced catalogue key (the key itself otherwise).
std::string_view platformKey(std::string_view key);

}  // namespace vantry
