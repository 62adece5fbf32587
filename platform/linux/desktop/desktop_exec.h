// The Exec line of a freedesktop Desktop Entry: how one argument is written so
// that launchers read it back unchanged. Pure string operations.
//
// Thread: any.
#pragma once

#include <string>
#include <string_view>

namespace korvane {

// `argument` as written in an Exec value (before the key file's own string
// escaping): in double quotes when it holds a reserved character (space, tab,
// newline, " ' \ > < ~ | & ; $ * ? # ( ) `) or is empty, with the four
// characters ", `, $ and backslash escaped by a backslash inside the quotes;
// "%" is doubled, as field codes start with it.
std::string quotedExecArgument(std::string_view argument);

}  // namespace korvane
