#pragma once
// UTF-8 on the command line and the terminal, UTF-16 little endian in frames.
#include <string>

namespace tavro::sink {

std::u16string toUtf16(const std::string& text);
std::string toUtf8(const std::u16string& text);

// Replies and interface lists hold newlines; printed lines must stay one each.
std::string escaped(const std::string& text);

}  // namespace tavro::sink
