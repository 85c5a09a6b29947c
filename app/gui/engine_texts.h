// The engine's words in the window's language: its reasons and the notes on
// what an output could not keep.
#pragma once

#include <QString>
#include <string>
#include <string_view>

#include "core/vx_messages.h"

namespace vellumar::gui {

// Whether the window shows its Chinese source texts (no catalogue installed).
bool WindowInChinese();

// A failure reason: the engine's own texts in English where the window is
// not Chinese; a library's words stay as they came.
QString EngineReason(const std::string& reason);

// A note in the window's language.
QString EngineNote(const VxNoteParts& note);

// The Chinese form of note `id` ({1}, {2}, ... as in the English), null when
// there is none.
const char* ChineseNote(std::string_view id);

}  // namespace vellumar::gui
