// The per-user settings store: typed values (text, 32-bit integer, raw bytes) under key paths
// such as "\Software\Trelvix\iPhone", kept in one text file, by default
// $XDG_CONFIG_HOME/Trelvix/registry.ini (~/.config when the variable is unset or not an
// absolute path).
//
// Key paths are absolute; "Software\X", "\Software\X\" and "\\Software\\X" all name the key
// "\Software\X". Key and value names compare without regard to ASCII letter case. A key exists
// when it or a key below it was created.
//
// Every operation reads the file afresh, so two programs (or two stores) on one file see each
// other's writes. A write re-reads the file under a lock file (<file>.lock), changes one thing and
// replaces the file atomically (temporary file + rename). A file that cannot be read or does not
// parse reads as one without keys, and every write to it fails, leaving it untouched: less data
// is never saved over data that could not be understood. All members are safe to call from any
// thread.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace trelvix::runtime {

enum class TValueType { vtString, vtInteger, vtBinary };

class TSettingsStore;
namespace detail {
struct SettingsValue;
struct SettingsContent;
}  // namespace detail

// One key of a store: a small handle that can be copied; valid as long as its store. Reads give
// std::nullopt when the value cannot be read: missing, or of another type. Writes return false
// with the reason in the store's LastError(); a write to a key removed meanwhile creates it again.
class TSettingsKey {
 public:
  const std::string& Path() const { return path_; }

  std::optional<TValueType> ValueType(std::string_view name) const;
  bool ValueExists(std::string_view name) const { return ValueType(name).has_value(); }
  std::optional<std::string> ReadString(std::string_view name) const;
  std::optional<std::int32_t> ReadInteger(std::string_view name) const;
  std::optional<std::vector<std::uint8_t>> ReadBinary(std::string_view name) const;
  // A raw-bytes value of exactly 8 bytes holding an IEEE double (little-endian).
  std::optional<double> ReadDouble(std::string_view name) const;

  bool WriteString(std::string_view name, std::string_view value);
  bool WriteInteger(std::string_view name, std::int32_t value);
  bool WriteBinary(std::string_view name, std::span<const std::uint8_t> value);
  bool WriteDouble(std::string_view name, double value);
  // True also when there was no such value.
  bool DeleteValue(std::string_view name);

 private:
  friend class TSettingsStore;
  TSettingsKey(TSettingsStore& store, std::string path) : store_(&store), path_(std::move(path)) {}
  TSettingsStore* store_;
  std::string path_;  // Normalised.
};

class TSettingsStore {
 public:
  explicit TSettingsStore(std::string file);
  TSettingsStore(const TSettingsStore&) = delete;
  TSettingsStore& operator=(const TSettingsStore&) = delete;

  // $XDG_CONFIG_HOME (or ~/.config)/Trelvix/registry.ini, evaluated at each call.
  static std::string DefaultFile();
  // "\A\B" form of a key path (see the top of this file); "\" for the root.
  static std::string NormalizeKey(std::string_view path);

  std::string File() const;
  // Points the store at another file (for tests: a temporary folder).
  void SetFile(std::string file);

  bool KeyExists(std::string_view path) const;
  // The key, or std::nullopt when it does not exist and create is false, or when it had to be
  // created and could not be saved (see LastError()).
  std::optional<TSettingsKey> OpenKey(std::string_view path, bool create);
  // True also when there was no such key. Removes the keys below it too.
  bool DeleteKey(std::string_view path);

  // The text of the last failure of any operation on this store (empty when none yet).
  std::string LastError() const;

 private:
  friend class TSettingsKey;
  std::optional<detail::SettingsValue> Find(const std::string& key, std::string_view name) const;
  // Re-reads the file, applies change to it and saves it; false (LastError set) when the file
  // cannot be understood or saved.
  bool Modify(const std::function<void(detail::SettingsContent&)>& change);
  void SetError(std::string text) const;

  mutable std::mutex mutex_;
  std::string file_;                // Guarded by mutex_.
  mutable std::string last_error_;  // Guarded by mutex_.
};

// The process-wide store of the current user at DefaultFile() as it was at first use.
TSettingsStore& UserSettings();

}  // namespace trelvix::runtime
