// Opening a web address in the user's browser, behind a seam that tests replace.
#pragma once

#include <functional>
#include <string>

namespace trelvix::runtime {

using TURLOpener = std::function<bool(const std::string& url)>;

// Opens url, an http or https address (blanks and line breaks around it are dropped), with the
// installed opener; returns what the opener reports. Anything else (a local file, a program, a
// mail address, an empty text) is refused with false and reaches no opener: addresses may come
// from a server's answer. The default opener is QDesktopServices::openUrl, which needs a
// QGuiApplication and the main thread; it returns false without one.
bool OpenURL(const std::string& url);

// Replaces the opener (any thread); nullptr restores the default. The opener is called on the
// thread that calls OpenURL, without any lock held.
void SetURLOpener(TURLOpener opener);

// True when text (trimmed) is an http or https address with a host.
bool IsWebAddress(const std::string& text);

}  // namespace trelvix::runtime
