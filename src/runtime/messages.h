// The texts of the platform layer's failures, in one place. %s: the file name, then (for
// kSettingsCannotSave) the system's reason.
#pragma once

namespace trelvix::runtime::msg {

inline constexpr char kSettingsDamaged[] = "The settings file %s is damaged; it was left unchanged";
inline constexpr char kSettingsUnreadable[] =
    "The settings file %s cannot be read; it was left unchanged";
inline constexpr char kSettingsCannotSave[] = "Cannot save the settings file %s: %s";
inline constexpr char kSettingsLocked[] = "The settings file %s is in use by another program";
inline constexpr char kSettingsKeyMissing[] = "The settings key %s does not exist";

}  // namespace trelvix::runtime::msg
