#include "subtitles/option_model.h"

#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "subtitles/subtitle_constants.h"

namespace trelvix::subtitles {
namespace {

using runtime::TSettingsKey;
using TS = TSubtitleSettings;

double Clamp(double v, double lo, double hi) {
  return std::clamp(v, lo, hi);
}
// Trunc for values shown with a decimal part: 4.3 s is 4300 ms, not 4299.
int TruncMs(double seconds) {
  return int(std::trunc(seconds * 1000 + 1e-7));
}

std::optional<double> ReadReal(const TSettingsKey& key, const char* name) {
  const auto v = key.ReadDouble(name);
  if (!v || !std::isfinite(*v)) return std::nullopt;
  return v;
}
std::optional<bool> ReadBool(const TSettingsKey& key, const char* name) {
  const auto v = key.ReadInteger(name);
  if (!v) return std::nullopt;
  return *v != 0;
}
// A missing text reads as empty text; one of another type cannot be read.
std::optional<QString> ReadText(const TSettingsKey& key, const char* name) {
  const auto type = key.ValueType(name);
  if (!type) return QString();
  const auto v = key.ReadString(name);
  if (!v) return std::nullopt;
  return QString::fromStdString(*v);
}
// A missing style reads as none; one longer than a byte or of another type cannot be read.
std::optional<runtime::TFontStyles> ReadStyle(const TSettingsKey& key, const char* name) {
  const auto type = key.ValueType(name);
  if (!type) return runtime::TFontStyles(0);
  const auto v = key.ReadBinary(name);
  if (!v || v->size() > 1) return std::nullopt;
  return v->empty() ? runtime::TFontStyles(0) : runtime::TFontStyles((*v)[0]);
}

}  // namespace

runtime::TFont DefaultSubtitleFont() {
  runtime::TFont f;
  f.SetName("Arial");
  f.SetHeight(-27);
  f.SetColor(runtime::clWhite);
  f.SetStyle(0);
  f.SetCharset(kEastEuropeCharset);
  return f;
}

void TOptionModel::SetFWidth(double v) {
  s_.FWidth = Clamp(v, TS::kFWidthMin, TS::kFWidthMax);
}

void TOptionModel::SetIQTime(int v) {
  s_.IQTime = std::clamp(v, TS::kIQTimeMin, TS::kIQTimeMax);
}

void TOptionModel::SetEFontSize(double v) {
  const double old = s_.EFontSize;
  s_.EFontSize = Clamp(v, TS::kEFontSizeMin, TS::kEFontSizeMax);
  if (s_.EFontSize != old) s_.PanelWzorFont.SetSize(int(std::trunc(s_.EFontSize)));
}

void TOptionModel::SetEObwodka(double v) {
  s_.EObwodka = Clamp(v, TS::kEObwodkaMin, TS::kEObwodkaMax);
  s_.EObwodkaTag = int(std::trunc(s_.EObwodka));
}

void TOptionModel::SetFontVol(double v) {
  s_.FontVol = Clamp(v, TS::kFontVolMin, TS::kFontVolMax);
}

void TOptionModel::SetNapisyCzas(double v) {
  s_.NapisyCzas = Clamp(v, TS::kNapisyCzasMin, TS::kNapisyCzasMax);
  s_.NapisyCzasTag = TruncMs(s_.NapisyCzas);
}

void TOptionModel::SetNapisBottom(double v) {
  s_.NapisBottom = Clamp(v, TS::kNapisBottomMin, TS::kNapisBottomMax);
}

void TOptionModel::SetFontType(int v) {
  s_.FontType = std::clamp(v, TS::kFontTypeMin, TS::kFontTypeMax);
}

void TOptionModel::BuildSubtitleFont() {
  runtime::TFont& f = s_.PanelWzorFont;
  f.SetCharset(s_.FontCharset);
  f.SetColor(s_.FontColor);
  f.SetName(s_.EFontName.toStdString());
  f.SetSize(int(std::trunc(s_.EFontSize)));
  f.SetStyle(s_.FontStyle);
}

void TOptionModel::LoadSettings(runtime::TSettingsStore& store) {
  if (!store.KeyExists(kSettingsKey)) return;
  const auto opened = store.OpenKey(kSettingsKey, false);
  if (!opened) return;
  const TSettingsKey& key = *opened;

  // Each value goes into its control at once; the first one that cannot be read ends the
  // reading.
  const auto real = [&](const char* name, void (TOptionModel::*set)(double)) {
    const auto v = ReadReal(key, name);
    if (v) (this->*set)(*v);
    return v.has_value();
  };
  const auto integer = [&](const char* name, auto set) {
    const auto v = key.ReadInteger(name);
    if (v) set(*v);
    return v.has_value();
  };
  const auto boolean = [&](const char* name, void (TOptionModel::*set)(bool)) {
    const auto v = ReadBool(key, name);
    if (v) (this->*set)(*v);
    return v.has_value();
  };
  const auto text = [&](const char* name, void (TOptionModel::*set)(const QString&)) {
    const auto v = ReadText(key, name);
    if (v) (this->*set)(*v);
    return v.has_value();
  };

  if (!real(kValFWidth, &TOptionModel::SetFWidth)) return;
  if (!integer(kValIQTime, [this](int32_t v) { SetIQTime(v); })) return;
  if (!boolean(kValIQDziel, &TOptionModel::SetIQDziel)) return;
  if (!boolean(kValIQZmniejsz, &TOptionModel::SetIQZmniejsz)) return;
  if (!text(kValEFontName, &TOptionModel::SetEFontName)) return;
  if (!real(kValEFontSize, &TOptionModel::SetEFontSize)) return;
  if (!integer(kValFontColor, [this](int32_t v) { SetFontColor(runtime::TColor(v)); })) return;
  const auto style = ReadStyle(key, kValFontStyle);
  if (!style) return;
  SetFontStyle(*style);
  if (!integer(kValFontCharset, [this](int32_t v) { SetFontCharset(v); })) return;
  BuildSubtitleFont();
  if (!real(kValEObwodka, &TOptionModel::SetEObwodka)) return;
  if (!boolean(kValIQNapisow, &TOptionModel::SetIQNapisow)) return;
  if (!boolean(kValFontAutoHeight, &TOptionModel::SetFontAutoHeight)) return;
  if (!real(kValFontVol, &TOptionModel::SetFontVol)) return;
  if (!real(kValNapisyCzas, &TOptionModel::SetNapisyCzas)) return;
  if (!real(kValNapisBottom, &TOptionModel::SetNapisBottom)) return;
  if (!integer(kValFontType, [this](int32_t v) { SetFontType(v); })) return;
  if (!boolean(kValCLoadTXT, &TOptionModel::SetCLoadTXT)) return;
  if (!text(kValDirectoryTXT, &TOptionModel::SetDirectoryTXT)) return;
  boolean(kValAllTXTToMenu, &TOptionModel::SetAllTXTToMenu);
}

bool TOptionModel::RecordProgram(runtime::TSettingsStore& store, const QString& program_path,
                                 QString* error) {
  auto key = store.OpenKey(kProgramKey, true);
  const bool ok = key && key->WriteString(kValName, kProgramName) &&
                  key->WriteString(kValShortName, kProgramShortName) &&
                  key->WriteString(kValPath, program_path.toStdString()) &&
                  key->WriteString(kValVersion, kProgramVersion);
  if (!ok && error) *error = QString::fromStdString(store.LastError());
  return ok;
}

void TOptionModel::HandleCommandLine(const QStringList& args, const TStartupActions& actions) {
  try {
    if (!args.isEmpty()) {
      const QFileInfo first(args[0]);
      if (first.exists() && first.isFile() && actions.AddEnabled && actions.AddEnabled() &&
          actions.AddFile)
        actions.AddFile(args[0]);
    }
    if (args.size() >= 2 && IsSubtitleFileName(args[1]) && actions.AddSubEnabled &&
        actions.AddSubEnabled() && actions.AddSubtitle)
      actions.AddSubtitle(args[1]);
  } catch (const std::exception&) {
    // Start-up goes on without the file.
  }
}

void TOptionModel::FormCreate(runtime::TSettingsStore& store, const QString& program_path,
                              const QStringList& args, const TStartupActions& actions) {
  LoadSettings(store);
  QString error;
  if (!RecordProgram(store, program_path, &error)) {
    if (actions.ReportError) actions.ReportError(error);
    return;
  }
  HandleCommandLine(args, actions);
}

TLoadTXTResult TOptionModel::LoadTXT(const QString& file_name) {
  const TLoadTXTResult r = LoadTXTFile(file_name, frame_rate_, timetable_);
  if (!r.Rejected) kind_ = r.Kind;
  return r;
}

void TOptionModel::LoadTimetable(TSubtitleTimetable timetable, const TLoadTXTResult& loaded) {
  if (loaded.Rejected) return;
  timetable_ = std::move(timetable);
  kind_ = loaded.Kind;
}

}  // namespace trelvix::subtitles
