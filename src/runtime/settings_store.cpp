#include "runtime/settings_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <map>

#include "runtime/format.h"
#include "runtime/messages.h"

namespace trelvix::runtime {
namespace detail {

// ASCII letter case does not matter in key and value names.
struct CaseLess {
  using is_transparent = void;
  static int Lower(unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }
  bool operator()(std::string_view a, std::string_view b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return Lower(static_cast<unsigned char>(x)) < Lower(static_cast<unsigned char>(y));
    });
  }
};

struct SettingsValue {
  TValueType type = TValueType::vtString;
  std::string data;  // Text or raw bytes.
  std::int32_t integer = 0;
};

using SettingsValues = std::map<std::string, SettingsValue, CaseLess>;

struct SettingsContent {
  enum class Status { kMissing, kOk, kUnreadable, kDamaged };
  Status status = Status::kMissing;
  // Key path (normalised, in the case first written) -> its values.
  std::map<std::string, SettingsValues, CaseLess> keys;
};

}  // namespace detail

namespace {

using detail::CaseLess;
using detail::SettingsContent;
using detail::SettingsValue;
using Status = SettingsContent::Status;

constexpr size_t kMaxFileBytes = size_t{16} << 20;
constexpr int kLockWaitMs = 5000;
constexpr char kHeader[] =
    "; Trelvix settings. [key path], then name=sz:text, name=dword:integer or name=hex:bytes;\n"
    "; %XX stands for a byte that cannot stand as it is.\n";
// Bytes that must be escaped in names besides '%' and control characters.
constexpr std::string_view kNameSpecials = "=[];";
constexpr std::string_view kKeySpecials = "]";

void AppendEscaped(std::string& out, std::string_view s, std::string_view specials) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 0x20 && c != 0x7F && c != '%' && specials.find(ch) == std::string_view::npos) {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Unescape(std::string_view s, std::string& out) {
  out.clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    if (s.size() - i < 3) return false;
    const int hi = HexDigit(s[i + 1]);
    const int lo = HexDigit(s[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

bool ParseHex(std::string_view s, std::string& out) {
  if (s.size() % 2 != 0) return false;
  out.clear();
  for (size_t i = 0; i < s.size(); i += 2) {
    const int hi = HexDigit(s[i]);
    const int lo = HexDigit(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
  }
  return true;
}

bool ParseInt32(std::string_view s, std::int32_t& out) {
  if (s.empty()) return false;
  const char* first = s.data();
  if (*first == '+') return false;
  const auto [end, ec] = std::from_chars(first, s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size();
}

// One value line "name=type:data".
bool ParseValue(std::string_view line, std::string& name, SettingsValue& value) {
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos || !Unescape(line.substr(0, eq), name)) return false;
  const std::string_view rest = line.substr(eq + 1);
  const size_t colon = rest.find(':');
  if (colon == std::string_view::npos) return false;
  const std::string_view type = rest.substr(0, colon);
  const std::string_view data = rest.substr(colon + 1);
  if (type == "sz") {
    value.type = TValueType::vtString;
    return Unescape(data, value.data);
  }
  if (type == "dword") {
    value.type = TValueType::vtInteger;
    return ParseInt32(data, value.integer);
  }
  if (type == "hex") {
    value.type = TValueType::vtBinary;
    return ParseHex(data, value.data);
  }
  return false;
}

bool Parse(std::string_view text, SettingsContent& c) {
  detail::SettingsValues* current = nullptr;
  std::string scratch;
  while (!text.empty()) {
    const size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);  // Edited elsewhere.
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      if (line.size() < 2 || line.back() != ']') return false;
      if (!Unescape(line.substr(1, line.size() - 2), scratch)) return false;
      const std::string key = TSettingsStore::NormalizeKey(scratch);
      current = &c.keys[key];
      continue;
    }
    SettingsValue value;
    if (current == nullptr || !ParseValue(line, scratch, value)) return false;
    // A value written twice: the later line holds.
    (*current)[scratch] = std::move(value);
  }
  return true;
}

std::string Serialise(const SettingsContent& c) {
  std::string out = kHeader;
  static constexpr char kHex[] = "0123456789abcdef";
  for (const auto& [key, values] : c.keys) {
    out += '[';
    AppendEscaped(out, key, kKeySpecials);
    out += "]\n";
    for (const auto& [name, v] : values) {
      AppendEscaped(out, name, kNameSpecials);
      switch (v.type) {
        case TValueType::vtString:
          out += "=sz:";
          AppendEscaped(out, v.data, {});
          break;
        case TValueType::vtInteger:
          out += "=dword:";
          out += std::to_string(v.integer);
          break;
        case TValueType::vtBinary:
          out += "=hex:";
          for (char ch : v.data) {
            const auto b = static_cast<unsigned char>(ch);
            out += kHex[b >> 4];
            out += kHex[b & 15];
          }
          break;
      }
      out += '\n';
    }
  }
  return out;
}

SettingsContent Load(const std::string& file) {
  SettingsContent c;
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    c.status = errno == ENOENT ? Status::kMissing : Status::kUnreadable;
    return c;
  }
  std::string text;
  char buf[16384];
  c.status = Status::kOk;
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || text.size() + static_cast<size_t>(n) > kMaxFileBytes) {
      c.status = Status::kUnreadable;
      break;
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  if (c.status == Status::kOk && !Parse(text, c)) {
    c.keys.clear();
    c.status = Status::kDamaged;
  }
  if (c.status != Status::kOk) c.keys.clear();
  return c;
}

bool IsAtOrBelow(std::string_view key, std::string_view path) {
  if (path == "\\") return true;
  if (key.size() < path.size()) return false;
  if (CaseLess()(key.substr(0, path.size()), path) || CaseLess()(path, key.substr(0, path.size())))
    return false;
  return key.size() == path.size() || key[path.size()] == '\\';
}

}  // namespace

// ---- TSettingsStore

TSettingsStore::TSettingsStore(std::string file) : file_(std::move(file)) {}

std::string TSettingsStore::DefaultFile() {
  std::string base;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && *xdg == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home != nullptr && *home != '\0' ? home : ".") + "/.config";
  }
  return base + "/Trelvix/registry.ini";
}

std::string TSettingsStore::NormalizeKey(std::string_view path) {
  std::string out;
  size_t i = 0;
  while (i < path.size()) {
    while (i < path.size() && path[i] == '\\') ++i;
    const size_t end = std::min(path.find('\\', i), path.size());
    if (end > i) {
      out += '\\';
      out.append(path.substr(i, end - i));
    }
    i = end;
  }
  return out.empty() ? std::string("\\") : out;
}

std::string TSettingsStore::File() const {
  std::lock_guard g(mutex_);
  return file_;
}

void TSettingsStore::SetFile(std::string file) {
  std::lock_guard g(mutex_);
  file_ = std::move(file);
}

std::string TSettingsStore::LastError() const {
  std::lock_guard g(mutex_);
  return last_error_;
}

void TSettingsStore::SetError(std::string text) const {
  last_error_ = std::move(text);
}

bool TSettingsStore::KeyExists(std::string_view path) const {
  const std::string key = NormalizeKey(path);
  if (key == "\\") return true;
  std::lock_guard g(mutex_);
  const SettingsContent c = Load(file_);
  return std::any_of(c.keys.begin(), c.keys.end(),
                     [&](const auto& entry) { return IsAtOrBelow(entry.first, key); });
}

std::optional<TSettingsKey> TSettingsStore::OpenKey(std::string_view path, bool create) {
  std::string key = NormalizeKey(path);
  if (KeyExists(key)) return TSettingsKey(*this, std::move(key));
  if (!create) {
    std::lock_guard g(mutex_);
    SetError(Format(msg::kSettingsKeyMissing, key.c_str()));
    return std::nullopt;
  }
  if (!Modify([&](SettingsContent& c) { c.keys[key]; })) return std::nullopt;
  return TSettingsKey(*this, std::move(key));
}

bool TSettingsStore::DeleteKey(std::string_view path) {
  const std::string key = NormalizeKey(path);
  return Modify([&](SettingsContent& c) {
    std::erase_if(c.keys, [&](const auto& entry) { return IsAtOrBelow(entry.first, key); });
  });
}

std::optional<SettingsValue> TSettingsStore::Find(const std::string& key,
                                                  std::string_view name) const {
  std::lock_guard g(mutex_);
  const SettingsContent c = Load(file_);
  const auto k = c.keys.find(key);
  if (k == c.keys.end()) return std::nullopt;
  const auto v = k->second.find(name);
  if (v == k->second.end()) return std::nullopt;
  return v->second;
}

bool TSettingsStore::Modify(const std::function<void(SettingsContent&)>& change) {
  // Writers of this process take turns here, so the lock file only waits for other programs
  // (its waits are long, for processes).
  static std::mutex process_writers;
  std::lock_guard turn(process_writers);
  std::lock_guard g(mutex_);
  const QString file = QFile::decodeName(QByteArray::fromStdString(file_));
  const QString dir = QFileInfo(file).absolutePath();
  if (!QDir().mkpath(dir)) {
    SetError(Format(msg::kSettingsCannotSave, file_.c_str(), "cannot create its folder"));
    return false;
  }
  QLockFile lock(file + ".lock");
  if (!lock.tryLock(kLockWaitMs)) {
    SetError(Format(msg::kSettingsLocked, file_.c_str()));
    return false;
  }
  SettingsContent c = Load(file_);
  if (c.status == Status::kDamaged) {
    SetError(Format(msg::kSettingsDamaged, file_.c_str()));
    return false;
  }
  if (c.status == Status::kUnreadable) {
    SetError(Format(msg::kSettingsUnreadable, file_.c_str()));
    return false;
  }
  change(c);
  const std::string text = Serialise(c);
  QSaveFile out(file);
  if (!out.open(QIODevice::WriteOnly) ||
      out.write(text.data(), static_cast<qint64>(text.size())) !=
          static_cast<qint64>(text.size()) ||
      !out.commit()) {
    SetError(
        Format(msg::kSettingsCannotSave, file_.c_str(), out.errorString().toUtf8().constData()));
    return false;
  }
  return true;
}

TSettingsStore& UserSettings() {
  static TSettingsStore store(TSettingsStore::DefaultFile());
  return store;
}

// ---- TSettingsKey

std::optional<TValueType> TSettingsKey::ValueType(std::string_view name) const {
  const auto v = store_->Find(path_, name);
  if (!v) return std::nullopt;
  return v->type;
}

std::optional<std::string> TSettingsKey::ReadString(std::string_view name) const {
  auto v = store_->Find(path_, name);
  if (!v || v->type != TValueType::vtString) return std::nullopt;
  return std::move(v->data);
}

std::optional<std::int32_t> TSettingsKey::ReadInteger(std::string_view name) const {
  const auto v = store_->Find(path_, name);
  if (!v || v->type != TValueType::vtInteger) return std::nullopt;
  return v->integer;
}

std::optional<std::vector<std::uint8_t>> TSettingsKey::ReadBinary(std::string_view name) const {
  const auto v = store_->Find(path_, name);
  if (!v || v->type != TValueType::vtBinary) return std::nullopt;
  return std::vector<std::uint8_t>(v->data.begin(), v->data.end());
}

std::optional<double> TSettingsKey::ReadDouble(std::string_view name) const {
  static_assert(std::endian::native == std::endian::little);
  const auto bytes = ReadBinary(name);
  if (!bytes || bytes->size() != sizeof(double)) return std::nullopt;
  double d;
  std::memcpy(&d, bytes->data(), sizeof d);
  return d;
}

bool TSettingsKey::WriteString(std::string_view name, std::string_view value) {
  return store_->Modify([&](SettingsContent& c) {
    c.keys[path_][std::string(name)] = SettingsValue{TValueType::vtString, std::string(value), 0};
  });
}

bool TSettingsKey::WriteInteger(std::string_view name, std::int32_t value) {
  return store_->Modify([&](SettingsContent& c) {
    c.keys[path_][std::string(name)] = SettingsValue{TValueType::vtInteger, {}, value};
  });
}

bool TSettingsKey::WriteBinary(std::string_view name, std::span<const std::uint8_t> value) {
  return store_->Modify([&](SettingsContent& c) {
    c.keys[path_][std::string(name)] =
        SettingsValue{TValueType::vtBinary, std::string(value.begin(), value.end()), 0};
  });
}

bool TSettingsKey::WriteDouble(std::string_view name, double value) {
  std::uint8_t bytes[sizeof value];
  std::memcpy(bytes, &value, sizeof value);
  return WriteBinary(name, bytes);
}

bool TSettingsKey::DeleteValue(std::string_view name) {
  return store_->Modify([&](SettingsContent& c) {
    const auto k = c.keys.find(path_);
    if (k == c.keys.end()) return;
    const auto v = k->second.find(name);
    if (v != k->second.end()) k->second.erase(v);
  });
}

}  // namespace trelvix::runtime
